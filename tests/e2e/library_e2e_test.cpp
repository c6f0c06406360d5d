// The library as a terminal meets it: loaded by path, driven only through its exports, against the
// fake broker inside scripts/sandbox (run_library_e2e.sh sets the scenario and seeds a refresh
// token). The cases run in order, sharing one loaded library like one indicator session.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
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
    EXPECT_EQ(seen.front(), "Waiting for server configuration");
    EXPECT_EQ(seen.back(), "");
    // The same texts again keep the module but look the configuration up anew; with the document
    // cached that lookup may finish before the call checks on it.
    const std::string again = InitDll("1001");
    EXPECT_TRUE(again.empty() || again == "Waiting for server configuration") << again;
    EXPECT_EQ(Configure("1001"), "");
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

    // A refused metadata call: cached_book_service_test.cpp.
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
    // Failed downloads of every kind: faults_e2e_test.cpp.
    const BookAnswer answer = PollBook(Lib().OrderBook, "NOPE_USD", 0);
    EXPECT_EQ(answer.result, -400);
    EXPECT_EQ(answer.text, "NOPE_USD OrderBook does not exist");

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
    EXPECT_EQ(Configure("2002"), "");
    // However many books the new module loads, none takes the kept reference's number.
    for (std::int32_t hour = 1, newest = 0; newest < answer.result && hour <= 64; ++hour) {
        newest = PollBook(Lib().OrderBook, "XAU_USD", 1765000000 + hour * 3600).result;
        ASSERT_GE(newest, 1);
    }
    ErrorBuffer error;
    EXPECT_EQ(Lib().OrderBook_Sz(answer.result, error.get()), -1);
    EXPECT_EQ(error.text(), "Book #" + std::to_string(answer.result) + " not found");
}

// Terminal threads reading books while InitDLL switches accounts underneath them:
// load_e2e_test.cpp.

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
