// The library as a terminal meets it: loaded by path, driven only through its exports, against the
// fake broker inside scripts/sandbox (run_library_e2e.sh sets the scenario and seeds a refresh
// token). The cases run in order, sharing one loaded library like one indicator session.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "auth/credential_store.h"
#include "exports_under_test.h"
#include "morva_orderbook.h"
#include "util/utf.h"

namespace morva {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono_literals;

// OrderBook and InitCreds before InitDLL: lifecycle_test.sh.
TEST(Library, EveryExportWaitsForInitDll) {
    ErrorBuffer error;
    EXPECT_EQ(Lib().PositionBook_Sz(1, error.get()), -1);
    EXPECT_EQ(error.text(), "Orderbook module not initialized");
}

TEST(Library, InitDllWaitsForTheServerConfiguration) {
    const auto seen =
        PollWhile([] { return InitDll("1001"); }, {"Waiting for server configuration"});
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "");
    EXPECT_EQ(seen.front(), "Waiting for server configuration");
    // The same texts again keep the module but look the configuration up anew; with the document
    // cached that lookup may finish before the call checks on it.
    const std::string again = InitDll("1001");
    EXPECT_TRUE(again.empty() || again == "Waiting for server configuration") << again;
    EXPECT_EQ(
        PollWhile([] { return InitDll("1001"); }, {"Waiting for server configuration"}).back(), "");
}

TEST(Library, BooksWaitForTheSignInThatInitCredsStarts) {
    WriteCredentials(u"MORVA_Orderbook",
                     {u"", Utf8ToUtf16(Environment("MORVA_E2E_REFRESH_TOKEN"))});
    ErrorBuffer error;
    Lib().InitCreds(error.get());
    EXPECT_EQ(error.text(), "Waiting for authorization");
    EXPECT_EQ(PollWhile(InitCreds, {"Waiting for authorization"}).back(), "");
}

TEST(Library, OrderBookLoadsInTheBackgroundAndIsReadThroughItsReference) {
    std::vector<std::int32_t> statuses;
    const BookAnswer answer = PollBook(Lib().OrderBook, "EUR_USD", 0, 30s, &statuses);
    ASSERT_GE(answer.result, 1) << answer.text;
    EXPECT_EQ(answer.text, "");
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses[0], -100);
    EXPECT_EQ(statuses[1], -200);
    ErrorBuffer error;
    EXPECT_EQ(Lib().OrderBook(Text("EUR_USD").get(), 0, error.get()), answer.result);

    const BookContent book = ReadBook(Orders(), answer.result);
    EXPECT_EQ(book.error, "");
    ASSERT_EQ(book.prices.size(), 320u);
    EXPECT_NEAR(book.Total(), 100.0, 0.01);
    EXPECT_LT(book.prices.front(), book.prices.back());
    EXPECT_GT(book.bucketWidth, 0);
    EXPECT_GT(book.price, 0);
    EXPECT_EQ(book.instrument, "EUR_USD");
    // E. Europe: two hours ahead in winter, three in summer.
    EXPECT_THAT((std::vector<std::int32_t>{7200, 10800}),
                ::testing::Contains(book.serverTime - book.unixTime));

    double bucketWidth = 0, price = 0;
    std::int32_t unixTime = 0, serverTime = 0;
    char16_t time[MORVA_TEXT_BUFFER_SIZE] = {}, instrument[MORVA_TEXT_BUFFER_SIZE] = {};
    Lib().OrderBook_MetaData(answer.result, &bucketWidth, &price, &unixTime, &serverTime, 2,
                             reinterpret_cast<morva_char16*>(time),
                             reinterpret_cast<morva_char16*>(instrument), error.get());
    EXPECT_EQ(error.text(), "Book #" + std::to_string(answer.result) + " invalid array size of 2");
    EXPECT_EQ(unixTime, 0) << "a refused call touches no output";

    Lib().OrderBook_Free(answer.result, error.get());
    EXPECT_EQ(error.text(), "");
}

TEST(Library, ServerTimeIsConvertedBothWays) {
    // 2024-07-15 12:00 on the server is 09:00 UTC (EEST), a snapshot on the broker's grid.
    constexpr std::int32_t kServerNoon = 1721044800;
    const BookAnswer answer = PollBook(Lib().OrderBook, "GBP_USD", kServerNoon);
    ASSERT_GE(answer.result, 1) << answer.text;
    const BookContent book = ReadBook(Orders(), answer.result);
    EXPECT_EQ(book.error, "");
    EXPECT_EQ(book.unixTime, kServerNoon - 3 * 3600);
    EXPECT_EQ(book.serverTime, kServerNoon);
    EXPECT_THAT(book.time, StartsWith("2024-07-15T09:00:00"));
}

TEST(Library, FailuresReachTheIndicatorAsStatusesAndTexts) {
    BookAnswer answer = PollBook(Lib().OrderBook, "NOPE_USD", 0);
    EXPECT_EQ(answer.result, -400);
    EXPECT_EQ(answer.text, "NOPE_USD OrderBook does not exist");

    answer = PollBook(Lib().OrderBook, "BROKEN_USD", 0);
    EXPECT_EQ(answer.result, -1);
    EXPECT_EQ(answer.text, "Get order book failed (HTTP 500): the book store is down");

    ErrorBuffer error;
    EXPECT_EQ(Lib().OrderBook(Text("").get(), 0, error.get()), -1);
    EXPECT_EQ(error.text(), "Book must have an instrument");
    EXPECT_EQ(Lib().OrderBook_Sz(0, error.get()), -1);
    EXPECT_EQ(error.text(), "Invalid book ref: 0");

    const std::string longName(300, 'Z');
    EXPECT_EQ(Lib().OrderBook(Text(longName).get(), 0, error.get()), -100);
    EXPECT_EQ(error.text(), std::string(179, 'Z'));
}

TEST(Library, PositionBooksKeepTheirOwnReferences) {
    const BookAnswer orders = PollBook(Lib().OrderBook, "USD_JPY", 0);
    const BookAnswer positions = PollBook(Lib().PositionBook, "USD_JPY", 0);
    ASSERT_GE(orders.result, 1) << orders.text;
    ASSERT_GE(positions.result, 1) << positions.text;
    ErrorBuffer error;
    EXPECT_EQ(Lib().PositionBook_Sz(positions.result, error.get()), 240) << error.text();
    EXPECT_EQ(Lib().OrderBook_Sz(orders.result, error.get()), 320) << error.text();
}

TEST(Library, ANewAccountBuildsANewModule) {
    const BookAnswer answer = PollBook(Lib().OrderBook, "XAU_USD", 0);
    ASSERT_GE(answer.result, 1) << answer.text;
    EXPECT_EQ(
        PollWhile([] { return InitDll("2002"); }, {"Waiting for server configuration"}).back(), "");
    // However many books the new module loads, none takes the kept reference's number.
    for (std::int32_t hour = 1, newest = 0; newest < answer.result && hour <= 64; ++hour) {
        newest = PollBook(Lib().OrderBook, "XAU_USD", 1765000000 + hour * 3600).result;
        ASSERT_GE(newest, 1);
    }
    ErrorBuffer error;
    EXPECT_EQ(Lib().OrderBook_Sz(answer.result, error.get()), -1);
    EXPECT_EQ(error.text(), "Book #" + std::to_string(answer.result) + " not found");
}

// Terminal threads keep reading books while InitDLL switches accounts underneath them: every
// answer is a status, a reference or a clear text, and nothing crashes.
TEST(Library, BookExportsSurviveInitDllOnAnotherThread) {
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    int calls = 0;
    std::mutex mutex;
    std::condition_variable called;
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&, t] {
            const char* instruments[] = {"EUR_USD", "GBP_USD", "USD_JPY", "XAU_USD"};
            ErrorBuffer error;
            while (!stop) {
                const BookKind kind = t % 2 == 0 ? Orders() : Positions();
                const std::int32_t ref =
                    kind.request(Text(instruments[t % 4]).get(), 0, error.get());
                if (ref >= 1) {
                    kind.size(ref, error.get());
                    kind.free(ref, error.get());
                } else if (ref == -1 && error.text().empty()) {
                    ++unexpected;  // a failure must say why
                }
                {
                    const std::lock_guard lock(mutex);
                    ++calls;
                }
                called.notify_all();
                // An indicator's pace: every failure is a log line, and the log keeps ten files.
                std::this_thread::sleep_for(5ms);
            }
        });
    }
    // Every switch waits for another round of reads, so that each lands among them. Bounded by
    // time, not count: in a slow (sanitized) build 500 switches took 90 s of load, under which a
    // configuration fetch's TLS handshake timed out.
    bool reading = true;
    const auto end = std::chrono::steady_clock::now() + 10s;
    for (int switches = 0; reading && std::chrono::steady_clock::now() < end; ++switches) {
        InitDll(switches % 2 == 0 ? "4004" : "5005");
        std::unique_lock lock(mutex);
        const int before = calls;
        reading = called.wait_for(lock, Scaled(10s), [&] { return calls >= before + 8; });
    }
    stop = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_TRUE(reading) << "the readers stopped getting answers";
    EXPECT_EQ(unexpected.load(), 0);
    // Afterwards the module settles: a fetch the storm made time out is retried by the next call.
    std::string settled = InitDll("4004");
    for (const auto deadline = std::chrono::steady_clock::now() + Scaled(30s);
         !settled.empty() && std::chrono::steady_clock::now() < deadline;
         settled = InitDll("4004")) {
        std::this_thread::sleep_for(5ms);  // an indicator's pace
    }
    EXPECT_EQ(settled, "");
}

// Last: the library goes away while a download is held back by the broker and the sign-in of a
// new module is still pending. FreeLibrary must return, and the process must end normally.
TEST(Library, UnloadingWithWorkInFlightNeitherHangsNorCrashes) {
    ErrorBuffer error;
    for (const auto deadline = std::chrono::steady_clock::now() + Scaled(10s);
         std::chrono::steady_clock::now() < deadline &&
         Lib().OrderBook(Text("SLOW_USD").get(), 0, error.get()) != -100;) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(error.text(), "SLOW_USD OrderBook has started loading...");
    EXPECT_EQ(InitDll("3003"), "Waiting for server configuration");
    Lib().InitCreds(error.get());
    EXPECT_EQ(error.text(), "Waiting for authorization");
    Lib().library.reset();
}

}  // namespace
}  // namespace morva
