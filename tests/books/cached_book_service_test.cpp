#include "books/cached_book_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"
#include "base/morva_error.h"
#include "support/captured_log.h"
#include "support/fake_auth_service.h"
#include "support/fake_clock.h"
#include "util/utf.h"

namespace {

using morva::AccessToken;
using morva::CachedBookService;
using morva::MorvaError;
using morva::StrataBook;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// The book a source answers unless a test sets another: three buckets, texts named after the key.
StrataBook MakeBook(const std::u16string& instrument, std::int64_t time) {
    StrataBook book;
    book.instrument = morva::Utf16ToUtf8(instrument);
    book.time = "time " + std::to_string(time);
    book.unixTime = time;
    book.price = 1.25;
    book.bucketWidth = 0.0005;
    book.buckets = {{1.0, 10.0, 20.0}, {2.0, 11.0, 21.0}, {3.0, 12.0, 22.0}};
    return book;
}

class CountingSource : public morva::BookSource {
  public:
    StrataBook GetBook(AccessToken token, const std::u16string& instrument,
                       std::int64_t time) override {
        const std::lock_guard lock(mutex_);
        ++calls_;
        lastToken_ = token.token;
        if (failure_ != nullptr) {
            std::rethrow_exception(failure_);
        }
        return book_ != nullptr ? *book_ : MakeBook(instrument, time);
    }

    void Fail(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
    }
    void Answer(StrataBook book) {
        const std::lock_guard lock(mutex_);
        book_ = std::make_unique<StrataBook>(std::move(book));
    }
    int calls() const {
        const std::lock_guard lock(mutex_);
        return calls_;
    }
    std::string lastToken() const {
        const std::lock_guard lock(mutex_);
        return lastToken_;
    }

  private:
    mutable std::mutex mutex_;  // guards everything below
    int calls_ = 0;
    std::string lastToken_;
    std::exception_ptr failure_;
    std::unique_ptr<StrataBook> book_;
};

template <class Body>
std::string ErrorText(Body&& body) {
    try {
        body();
    } catch (const MorvaError& error) {
        return error.what();
    }
    return "<no MorvaError>";
}

class CachedBookServiceTest : public ::testing::Test {
  protected:
    std::string SizeError(std::int32_t ref) {
        return ErrorText([&] { service.GetBookSize(ref); });
    }

    std::shared_ptr<morva::test::FakeClock> clock = std::make_shared<morva::test::FakeClock>();
    std::shared_ptr<morva::test::FakeAuthService> auth =
        std::make_shared<morva::test::FakeAuthService>();
    std::shared_ptr<CountingSource> source = std::make_shared<CountingSource>();
    morva::BookRefSequence refs;  // the process's sequence for the kind, from 0 for each test
    CachedBookService service{10, refs, auth, source, clock};
};

TEST_F(CachedBookServiceTest, FirstRefIsOneNextKeyTwoAndAHeldKeyKeepsItsRef) {
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 200), 2);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 200), 2);
    EXPECT_EQ(source->calls(), 2);
    EXPECT_EQ(auth->blockingCalls(), 2);
    EXPECT_EQ(auth->asyncCalls(), 0);
    EXPECT_EQ(source->lastToken(), "fake-token");
}

// A reference kept across InitDLL texts (a new module) must never read another module's book.
TEST_F(CachedBookServiceTest, ServicesOfOneKindNeverShareAReference) {
    CachedBookService other{10, refs, auth, source, clock};
    const std::int32_t mine = service.GetBookRef(u"EURUSD", 100);
    const std::int32_t theirs = other.GetBookRef(u"GBPUSD", 100);
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(ErrorText([&] { other.GetBookSize(mine); }),
              "Book #" + std::to_string(mine) + " not found");
    EXPECT_EQ(SizeError(theirs), "Book #" + std::to_string(theirs) + " not found");
}

TEST(BookRefSequence, RefusesRatherThanWrapsAround) {
    morva::BookRefSequence refs(INT32_MAX - 1);
    EXPECT_EQ(refs.Next(), INT32_MAX);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ErrorText([&] { refs.Next(); }), "Out of book references after #2147483647");
    }
    EXPECT_NE(&morva::BookRefSequence::OrderBooks(), &morva::BookRefSequence::PositionBooks());
}

TEST_F(CachedBookServiceTest, EmptyInstrumentIsRefusedBeforeAnyRequest) {
    EXPECT_EQ(ErrorText([&] { service.GetBookRef(u"", 100); }), "Book must have an instrument");
    EXPECT_EQ(auth->blockingCalls(), 0);
    EXPECT_EQ(source->calls(), 0);
}

TEST_F(CachedBookServiceTest, ReleasedBookStaysCachedForItsLifetime) {
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    service.FreeBookRef(1);
    clock->Advance(10s);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service.GetBookSize(1), 3u);
    EXPECT_EQ(source->calls(), 1);
}

TEST_F(CachedBookServiceTest, AfterExpiryTheKeyLoadsUnderANewRefAndTheOldRefIsGone) {
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    service.FreeBookRef(1);
    clock->Advance(10s + 1ns);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 2);
    EXPECT_EQ(source->calls(), 2);
    EXPECT_EQ(SizeError(1), "Book #1 not found");
    EXPECT_EQ(service.GetBookSize(2), 3u);
    // The new reference is held: no later sweep drops it.
    clock->Advance(1h);
    service.FreeBookRef(0);
    EXPECT_EQ(service.GetBookSize(2), 3u);
}

TEST_F(CachedBookServiceTest, SecondReleaseChangesNothing) {
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    service.FreeBookRef(1);
    clock->Advance(6s);
    service.FreeBookRef(1);
    clock->Advance(4s);
    service.FreeBookRef(1);
    EXPECT_EQ(service.GetBookSize(1), 3u);  // exactly at the expiry: still there
    clock->Advance(1ns);
    service.FreeBookRef(1);
    EXPECT_EQ(SizeError(1), "Book #1 not found");
}

TEST_F(CachedBookServiceTest, CacheHitDoesNotRestartTheCountdown) {
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    service.FreeBookRef(1);
    clock->Advance(8s);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    clock->Advance(3s);
    service.FreeBookRef(999);
    EXPECT_EQ(SizeError(1), "Book #1 not found");
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 2);
}

TEST_F(CachedBookServiceTest, FreeOfZeroNegativeOrUnknownRefOnlySweeps) {
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    ASSERT_EQ(service.GetBookRef(u"GBPUSD", 100), 2);
    service.FreeBookRef(2);
    service.FreeBookRef(0);
    service.FreeBookRef(-5);
    service.FreeBookRef(77);
    clock->Advance(11s);
    EXPECT_EQ(service.GetBookSize(2), 3u);  // nothing swept since the clock moved
    service.FreeBookRef(0);
    EXPECT_EQ(SizeError(2), "Book #2 not found");
    service.FreeBookRef(-5);
    service.FreeBookRef(77);
    clock->Advance(1h);
    service.FreeBookRef(0);
    EXPECT_EQ(service.GetBookSize(1), 3u);  // never released, so never counting down
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
}

TEST_F(CachedBookServiceTest, GetBookSizeChecksTheRef) {
    EXPECT_EQ(SizeError(0), "Invalid book ref: 0");
    EXPECT_EQ(SizeError(-3), "Invalid book ref: -3");
    EXPECT_EQ(SizeError(5), "Book #5 not found");
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service.GetBookSize(1), 3u);
}

TEST_F(CachedBookServiceTest, GetBookDataCopiesAtMostTheBucketCount) {
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    std::array<double, 6> shortCounts{}, longCounts{}, prices{};
    shortCounts.fill(-1);
    longCounts.fill(-1);
    prices.fill(-1);

    service.GetBookData(1, shortCounts.data(), longCounts.data(), prices.data(), 0);
    EXPECT_THAT(shortCounts, ::testing::Each(-1.0));

    service.GetBookData(1, shortCounts.data(), longCounts.data(), prices.data(), 2);
    EXPECT_THAT(shortCounts, ::testing::ElementsAre(20, 21, -1, -1, -1, -1));

    service.GetBookData(1, shortCounts.data(), longCounts.data(), prices.data(), 6);
    EXPECT_THAT(shortCounts, ::testing::ElementsAre(20, 21, 22, -1, -1, -1));
    EXPECT_THAT(longCounts, ::testing::ElementsAre(10, 11, 12, -1, -1, -1));
    EXPECT_THAT(prices, ::testing::ElementsAre(1, 2, 3, -1, -1, -1));
}

TEST_F(CachedBookServiceTest, GetBookDataChecksInOrder) {
    double out[3] = {};
    EXPECT_EQ(ErrorText([&] { service.GetBookData(0, nullptr, nullptr, nullptr, -1); }),
              "Invalid book ref: 0");
    EXPECT_EQ(ErrorText([&] { service.GetBookData(4, nullptr, nullptr, nullptr, -1); }),
              "Book #4 invalid array size of -1");
    EXPECT_EQ(ErrorText([&] { service.GetBookData(4, nullptr, nullptr, nullptr, 3); }),
              "Book #4 missing shortCounts output");
    EXPECT_EQ(ErrorText([&] { service.GetBookData(4, out, nullptr, nullptr, 3); }),
              "Book #4 missing longCounts output");
    EXPECT_EQ(ErrorText([&] { service.GetBookData(4, out, out, nullptr, 3); }),
              "Book #4 missing prices output");
    EXPECT_EQ(ErrorText([&] { service.GetBookData(4, out, out, out, 3); }), "Book #4 not found");
}

TEST_F(CachedBookServiceTest, GetBookMetaDataWritesTheMetadata) {
    StrataBook book = MakeBook(u"EUR_USD", 0);
    book.instrument = "\xd0\x95\xd0\x92\xd0\xa0\xd0\x9e/USD";  // "ЕВРО/USD"
    book.time = "2025-12-06T12:00:00Z";
    book.unixTime = 0x1'0000'0007LL;
    book.price = 1.16;
    book.bucketWidth = 0.0005;
    source->Answer(book);
    ASSERT_EQ(service.GetBookRef(u"EUR_USD", 0), 1);

    double bucketWidth = 0;
    double price = 0;
    std::int32_t unixTime = 0;
    char16_t timeText[180];
    char16_t instrumentText[180];
    service.GetBookMetaData(1, &bucketWidth, &price, &unixTime, 1, timeText, instrumentText, 180);
    EXPECT_EQ(bucketWidth, 0.0005);
    EXPECT_EQ(price, 1.16);
    EXPECT_EQ(unixTime, 7);  // cut to 32 bits
    EXPECT_EQ(std::u16string(timeText), u"2025-12-06T12:00:00Z");
    EXPECT_EQ(std::u16string(instrumentText), u"\u0415\u0412\u0420\u041e/USD");
}

TEST_F(CachedBookServiceTest, GetBookMetaDataCutsTextsAtCapacityMinusOne) {
    StrataBook book = MakeBook(u"EURUSD", 0);
    book.time = std::string(200, 't');
    // An astral character whose pair would straddle the cut goes whole.
    book.instrument = std::string(178, 'i') + "\xf0\x9f\x98\x80" + "tail";
    source->Answer(book);
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 0), 1);

    double bucketWidth = 0;
    double price = 0;
    std::int32_t unixTime = 0;
    std::array<char16_t, 190> timeText;
    std::array<char16_t, 190> instrumentText;
    timeText.fill(u'#');
    instrumentText.fill(u'#');
    service.GetBookMetaData(1, &bucketWidth, &price, &unixTime, 1, timeText.data(),
                            instrumentText.data(), 180);
    EXPECT_EQ(std::u16string(timeText.data()), std::u16string(179, u't'));
    EXPECT_EQ(std::u16string(instrumentText.data()), std::u16string(178, u'i'));
    EXPECT_EQ(timeText[180], u'#');
    EXPECT_EQ(instrumentText[180], u'#');
}

TEST_F(CachedBookServiceTest, GetBookMetaDataChecksInOrderAndTouchesNothingOnFailure) {
    double number = -1;
    std::int32_t unixTime = -1;
    char16_t text[8] = u"stale";
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(0, nullptr, nullptr, nullptr, 2, nullptr, nullptr, 8);
              }),
              "Invalid book ref: 0");
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(3, nullptr, nullptr, nullptr, 2, nullptr, nullptr, 8);
              }),
              "Book #3 invalid array size of 2");
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(3, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 8);
              }),
              "Book #3 invalid array size of 0");
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(3, nullptr, nullptr, nullptr, 1, nullptr, nullptr, 8);
              }),
              "Book #3 missing bucketWidth output");
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(3, &number, nullptr, nullptr, 1, nullptr, nullptr, 8);
              }),
              "Book #3 missing price output");
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(3, &number, &number, nullptr, 1, nullptr, nullptr, 8);
              }),
              "Book #3 missing unixTime output");
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(3, &number, &number, &unixTime, 1, nullptr, nullptr, 8);
              }),
              "Book #3 missing time output");
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(3, &number, &number, &unixTime, 1, text, nullptr, 8);
              }),
              "Book #3 missing instrument output");
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(3, &number, &number, &unixTime, 1, text, text, 8);
              }),
              "Book #3 not found");

    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(ErrorText([&] {
                  service.GetBookMetaData(1, &number, &number, &unixTime, 2, text, text, 8);
              }),
              "Book #1 invalid array size of 2");
    EXPECT_EQ(number, -1);
    EXPECT_EQ(unixTime, -1);
    EXPECT_EQ(std::u16string(text), u"stale");
}

TEST_F(CachedBookServiceTest, KeysThatDifferOnlyInLetterCaseAreSeparate) {
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service.GetBookRef(u"eurusd", 100), 2);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service.GetBookRef(u"eurusd", 100), 2);
    EXPECT_EQ(source->calls(), 2);
}

TEST_F(CachedBookServiceTest, PrefixInstrumentsAndNegativeTimesAreSeparateKeys) {
    EXPECT_EQ(service.GetBookRef(u"EUR", 0), 1);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 0), 2);
    EXPECT_EQ(service.GetBookRef(u"EUR", -1), 3);
    EXPECT_EQ(service.GetBookRef(u"EUR", 0), 1);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 0), 2);
    EXPECT_EQ(service.GetBookRef(u"EUR", -1), 3);
}

TEST_F(CachedBookServiceTest, AFailingSourceStoresNothing) {
    source->Fail(std::make_exception_ptr(
        MorvaError("%s failed (HTTP %d): %s", "Get order book", 500, "Internal error")));
    EXPECT_EQ(ErrorText([&] { service.GetBookRef(u"EURUSD", 100); }),
              "Get order book failed (HTTP 500): Internal error");
    EXPECT_EQ(SizeError(1), "Book #1 not found");

    source->Fail(nullptr);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);  // the failure used no reference
    EXPECT_EQ(source->calls(), 2);
}

TEST_F(CachedBookServiceTest, AFailingTokenServiceStoresNothingAndAsksNoSource) {
    auth->FailBlocking(std::make_exception_ptr(MorvaError("Sign-in window closed")));
    EXPECT_EQ(ErrorText([&] { service.GetBookRef(u"EURUSD", 100); }), "Sign-in window closed");
    EXPECT_EQ(source->calls(), 0);
    auth->FailBlocking(nullptr);
    EXPECT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
}

TEST_F(CachedBookServiceTest, LogsLoadsAndHitsAtDebugUnderItsOwnName) {
    const morva::test::CapturedLog log(spdlog::level::debug);
    ASSERT_EQ(service.GetBookRef(u"\u0415URUSD", 100), 1);
    ASSERT_EQ(service.GetBookRef(u"\u0415URUSD", 100), 1);
    EXPECT_THAT(log.Lines(), HasSubstr("debug|morva::CachedBookService::GetBookRef|"
                                       "Book(\xd0\x95URUSD, 100) #1 has been loaded\n"));
    EXPECT_THAT(log.Lines(), HasSubstr("debug|morva::CachedBookService::GetBookRef|"
                                       "Book(\xd0\x95URUSD, 100) #1 is cached\n"));
}

TEST_F(CachedBookServiceTest, NothingIsLoggedAtInfo) {
    const morva::test::CapturedLog log(spdlog::level::info);
    ASSERT_EQ(service.GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(log.Lines(), "");
}

}  // namespace
