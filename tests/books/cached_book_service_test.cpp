#include "books/cached_book_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"
#include "base/morva_error.h"
#include "support/captured_log.h"
#include "support/fake_auth_service.h"
#include "support/fake_book_source.h"
#include "support/fake_clock.h"

namespace morva {
namespace {

using test::FakeAuthService;
using test::FakeBookSource;
using test::FakeClock;
using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using namespace std::chrono_literals;

using test::MakeBook;

auto Fails(const std::string& text) {
    return ThrowsMessage<MorvaError>(StrEq(text));
}

class CachedBookServiceTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeAuthService> auth = std::make_shared<FakeAuthService>();
    std::shared_ptr<FakeBookSource> source = std::make_shared<FakeBookSource>();
    BookRefSequence refs;  // the process's sequence for the kind, from 0 for each test
    CachedBookService service{10, refs, auth, source, clock};
};

// Loads and hits are logged at debug only.
TEST_F(CachedBookServiceTest, EachKeyGetsTheNextRefAndAHeldKeyKeepsItsRef) {
    const test::CapturedLog log(spdlog::level::debug);
    // Letter case, a prefix and a negative time each make a key of their own.
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 200), 2);
    EXPECT_EQ(service.GetBookRef(u"\u0415urusd", 100), 3);
    EXPECT_EQ(service.GetBookRef(u"EUR", 100), 4);
    EXPECT_EQ(service.GetBookRef(u"EUR", -100), 5);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(source->started(), 5);
    EXPECT_EQ(auth->blockingCalls(), 5);
    EXPECT_EQ(auth->asyncCalls(), 0);
    EXPECT_EQ(source->lastToken(), "fake-token");
    EXPECT_THAT(log.Messages(), HasSubstr("debug|Book(\xd0\x95urusd, 100) #3 has been loaded\n"));
    EXPECT_THAT(log.Messages(), HasSubstr("debug|Book(EURUSD, 100) #1 is cached\n"));
    EXPECT_EQ(log.Messages().find("info|"), std::string::npos);
}

// That services of one kind (old and new module) never share a reference, the library's
// end-to-end run shows (Library.ANewAccountBuildsANewModule).
TEST(BookRefSequence, RefusesRatherThanWrapsAround) {
    BookRefSequence refs(INT32_MAX - 1);
    EXPECT_EQ(refs.Next(), INT32_MAX);
    for (int i = 0; i < 2; ++i) {
        EXPECT_THAT([&] { refs.Next(); }, Fails("Out of book references after #2147483647"));
    }
    EXPECT_NE(&BookRefSequence::OrderBooks(), &BookRefSequence::PositionBooks());
}

TEST_F(CachedBookServiceTest, AReleasedBookLastsItsLifetimeFromTheFirstRelease) {
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    service.FreeBookRef(1);
    clock->Advance(6s);
    service.FreeBookRef(1);                            // a second release changes nothing
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);  // nor does a cache hit
    clock->Advance(4s);
    service.FreeBookRef(1);
    EXPECT_EQ(service.GetBookSize(1), 3u);  // exactly at the expiry: still there
    clock->Advance(1ns);
    EXPECT_EQ(service.GetBookSize(1), 3u) << "only a release sweeps";
    service.FreeBookRef(999);
    EXPECT_THAT([&] { service.GetBookSize(1); }, Fails("Book #1 not found"));

    // The key loads again under a new reference, which is held: no later sweep (zero, negative
    // or unknown references only sweep) drops it.
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 2);
    EXPECT_EQ(source->started(), 2);
    clock->Advance(1h);
    service.FreeBookRef(0);
    service.FreeBookRef(-5);
    EXPECT_EQ(service.GetBookSize(2), 3u);
}

TEST_F(CachedBookServiceTest, GetBookDataCopiesAtMostTheBucketCount) {
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    std::vector<double> shortCounts(6, -1), longCounts(6, -1), prices(6, -1);

    service.GetBookData(1, shortCounts.data(), longCounts.data(), prices.data(), 2);
    EXPECT_THAT(shortCounts, ::testing::ElementsAre(20, 21, -1, -1, -1, -1));

    service.GetBookData(1, shortCounts.data(), longCounts.data(), prices.data(), 6);
    EXPECT_THAT(shortCounts, ::testing::ElementsAre(20, 21, 22, -1, -1, -1));
    EXPECT_THAT(longCounts, ::testing::ElementsAre(10, 11, 12, -1, -1, -1));
    EXPECT_THAT(prices, ::testing::ElementsAre(1, 2, 3, -1, -1, -1));
}

TEST_F(CachedBookServiceTest, TheBookCallsCheckTheirArgumentsInOrder) {
    double out[3] = {};
    double* n = out;
    std::int32_t unixTime = 0;
    char16_t text[8] = {};
    auto& s = service;
    const std::pair<std::function<void()>, const char*> checks[] = {
        {[&] { s.GetBookSize(0); }, "Invalid book ref: 0"},
        {[&] { s.GetBookData(0, nullptr, nullptr, nullptr, -1); }, "Invalid book ref: 0"},
        {[&] { s.GetBookData(4, nullptr, nullptr, nullptr, -1); },
         "Book #4 invalid array size of -1"},
        {[&] { s.GetBookData(4, nullptr, nullptr, nullptr, 3); },
         "Book #4 missing shortCounts output"},
        {[&] { s.GetBookData(4, n, nullptr, nullptr, 3); }, "Book #4 missing longCounts output"},
        {[&] { s.GetBookData(4, n, n, nullptr, 3); }, "Book #4 missing prices output"},
        {[&] { s.GetBookMetaData(0, nullptr, nullptr, nullptr, 2, nullptr, nullptr, 8); },
         "Invalid book ref: 0"},
        {[&] { s.GetBookMetaData(3, nullptr, nullptr, nullptr, 2, nullptr, nullptr, 8); },
         "Book #3 invalid array size of 2"},
        {[&] { s.GetBookMetaData(3, nullptr, nullptr, nullptr, 1, nullptr, nullptr, 8); },
         "Book #3 missing bucketWidth output"},
        {[&] { s.GetBookMetaData(3, n, nullptr, nullptr, 1, nullptr, nullptr, 8); },
         "Book #3 missing price output"},
        {[&] { s.GetBookMetaData(3, n, n, nullptr, 1, nullptr, nullptr, 8); },
         "Book #3 missing unixTime output"},
        {[&] { s.GetBookMetaData(3, n, n, &unixTime, 1, nullptr, nullptr, 8); },
         "Book #3 missing time output"},
        {[&] { s.GetBookMetaData(3, n, n, &unixTime, 1, text, nullptr, 8); },
         "Book #3 missing instrument output"},
    };
    for (const auto& [call, failure] : checks) {
        EXPECT_THAT(call, Fails(failure));
    }

    // That a failure touches no output, the end-to-end run checks on a loaded book.
}

TEST_F(CachedBookServiceTest, GetBookMetaDataWritesTheMetadataCuttingTextsAtCapacityMinusOne) {
    StrataBook book = MakeBook(u"EUR_USD", 0);
    book.unixTime = 0x1'0000'0007LL;
    book.time = std::string(200, 't');
    // UTF-8 becomes UTF-16; an astral character whose pair would straddle the cut goes whole.
    book.instrument = "\xd0\x95" + std::string(177, 'i') + "\xf0\x9f\x98\x80" + "tail";
    source->Answer(book);
    ASSERT_EQ(service.GetBookRef(u"EUR_USD", 0), 1);

    double bucketWidth = 0;
    double price = 0;
    std::int32_t unixTime = 0;
    std::array<char16_t, 190> timeText;
    std::array<char16_t, 190> instrumentText;
    timeText.fill(u'#');
    instrumentText.fill(u'#');
    service.GetBookMetaData(1, &bucketWidth, &price, &unixTime, 1, timeText.data(),
                            instrumentText.data(), 180);
    EXPECT_EQ(bucketWidth, 0.0005);
    EXPECT_EQ(price, 1.25);
    EXPECT_EQ(unixTime, 7);  // cut to 32 bits
    EXPECT_EQ(std::u16string(timeText.data()), std::u16string(179, u't'));
    EXPECT_EQ(std::u16string(instrumentText.data()), u"\u0415" + std::u16string(177, u'i'));
}

TEST_F(CachedBookServiceTest, AFailureStoresNothingAndUsesNoReference) {
    EXPECT_THAT([&] { service.GetBookRef(u"", 100); }, Fails("Book must have an instrument"));
    EXPECT_EQ(auth->blockingCalls(), 0) << "refused before any request";
    auth->FailBlocking(std::make_exception_ptr(MorvaError("Sign-in window closed")));
    EXPECT_THAT([&] { service.GetBookRef(u"EURUSD", 100); }, Fails("Sign-in window closed"));
    EXPECT_EQ(source->started(), 0) << "no token: no source asked";
    auth->FailBlocking(nullptr);

    source->Fail(std::make_exception_ptr(
        MorvaError("%s failed (HTTP %d): %s", "Get order book", 500, "Internal error")));
    EXPECT_THAT([&] { service.GetBookRef(u"EURUSD", 100); },
                Fails("Get order book failed (HTTP 500): Internal error"));

    // Loaded now, not a hit on something the failure stored.
    source->Fail(nullptr);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(source->started(), 2);
}

}  // namespace
}  // namespace morva
