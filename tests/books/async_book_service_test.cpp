#include "books/async_book_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "base/log.h"
#include "base/morva_error.h"
#include "books/book_service.h"
#include "support/captured_log.h"
#include "support/fake_auth_service.h"
#include "support/fake_clock.h"
#include "util/utf.h"

namespace {

using morva::AccessToken;
using morva::AsyncBookService;
using morva::BookRefStatus;
using morva::InvalidInstrumentError;
using morva::MorvaError;
using morva::StrataBook;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

constexpr std::int32_t kStarted = static_cast<std::int32_t>(BookRefStatus::StartedLoading);
constexpr std::int32_t kStill = static_cast<std::int32_t>(BookRefStatus::StillLoading);
constexpr std::int32_t kWaiting = static_cast<std::int32_t>(BookRefStatus::WaitingForAuthorization);
constexpr std::int32_t kMissing = static_cast<std::int32_t>(BookRefStatus::DoesNotExist);
constexpr auto kDeadline = 10s;

// A source whose downloads block until the test opens its gate.
class GatedSource : public morva::BookSource {
  public:
    StrataBook GetBook(AccessToken token, const std::u16string& instrument,
                       std::int64_t time) override {
        std::unique_lock lock(mutex_);
        ++started_;
        lastToken_ = token.token;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        ++finished_;
        changed_.notify_all();
        if (failure_ != nullptr) {
            std::rethrow_exception(failure_);
        }
        StrataBook book;
        book.instrument = morva::Utf16ToUtf8(instrument);
        book.time = std::to_string(time);
        book.unixTime = time;
        book.buckets = {{1.0, 10.0, 20.0}, {2.0, 11.0, 21.0}};
        return book;
    }

    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Fail(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
    }
    // True when `count` downloads have entered the source within the deadline.
    bool WaitStarted(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return started_ >= count; });
    }
    // True when `count` downloads have left the source within the deadline.
    bool WaitFinished(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return finished_ >= count; });
    }
    int started() const {
        const std::lock_guard lock(mutex_);
        return started_;
    }
    int finished() const {
        const std::lock_guard lock(mutex_);
        return finished_;
    }
    std::string lastToken() const {
        const std::lock_guard lock(mutex_);
        return lastToken_;
    }

  private:
    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    bool open_ = false;
    int started_ = 0;
    int finished_ = 0;
    std::string lastToken_;
    std::exception_ptr failure_;
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

AccessToken Token() {
    AccessToken token;
    token.tokenType = "Bearer";
    token.token = "async-token";
    token.expiresIn = 3600;
    return token;
}

class AsyncBookServiceTest : public ::testing::Test {
  protected:
    ~AsyncBookServiceTest() override {
        // A failed expectation must not leave a download blocked in the destructor.
        source->Open();
        service.reset();
    }

    // Polls while the download runs (bounded by the deadline); errors of the collecting call
    // pass through.
    std::int32_t Collect(const std::u16string& instrument, std::int64_t time) {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        std::int32_t result = service->GetBookRef(instrument, time);
        while (result == kStill && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
            result = service->GetBookRef(instrument, time);
        }
        return result;
    }

    std::shared_ptr<morva::test::FakeClock> clock = std::make_shared<morva::test::FakeClock>();
    std::shared_ptr<morva::test::FakeAuthService> auth =
        std::make_shared<morva::test::FakeAuthService>();
    std::shared_ptr<GatedSource> source = std::make_shared<GatedSource>();
    morva::BookRefSequence bookRefs;
    std::unique_ptr<AsyncBookService> service =
        std::make_unique<AsyncBookService>(10, bookRefs, auth, source, clock);
};

TEST_F(AsyncBookServiceTest, WaitsForAuthorizationWithoutStartingAnything) {
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kWaiting);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kWaiting);
    EXPECT_EQ(auth->asyncCalls(), 2);
    EXPECT_EQ(auth->blockingCalls(), 0);
    EXPECT_EQ(source->started(), 0);

    auth->CompleteAsync(Token());
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
}

TEST_F(AsyncBookServiceTest, StartsThenLoadsThenAnswersTheRefFromTheCache) {
    const morva::test::CapturedLog log(spdlog::level::debug);
    auth->CompleteAsync(Token());
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStill);
    ASSERT_TRUE(source->WaitStarted(1));
    source->Open();
    EXPECT_EQ(Collect(u"EURUSD", 100), 1);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service->GetBookSize(1), 2u);
    EXPECT_EQ(source->started(), 1);
    EXPECT_EQ(source->lastToken(), "async-token");
    EXPECT_EQ(auth->blockingCalls(), 0);

    const std::string prefix = "debug|morva::AsyncBookService::GetBookRef|Book(EURUSD, 100)";
    EXPECT_THAT(log.Lines(), HasSubstr(prefix + " started loading\n"));
    EXPECT_THAT(log.Lines(), HasSubstr(prefix + " is still loading\n"));
    EXPECT_THAT(log.Lines(), HasSubstr(prefix + " #1 is ready\n"));
    EXPECT_THAT(log.Lines(), HasSubstr(prefix + " #1 is cached\n"));
}

TEST_F(AsyncBookServiceTest, WaitingForAuthorizationIsLogged) {
    const morva::test::CapturedLog log(spdlog::level::debug);
    EXPECT_EQ(service->GetBookRef(u"GBPUSD", 0), kWaiting);
    EXPECT_THAT(log.Lines(), HasSubstr("debug|morva::AsyncBookService::GetBookRef|"
                                       "Book(GBPUSD, 0) is waiting for authorization\n"));
}

TEST_F(AsyncBookServiceTest, EmptyInstrumentIsRefused) {
    EXPECT_EQ(ErrorText([&] { service->GetBookRef(u"", 100); }), "Book must have an instrument");
    EXPECT_EQ(auth->asyncCalls(), 0);
}

TEST_F(AsyncBookServiceTest, RejectedInstrumentAnswersDoesNotExistOnceThenStartsAgain) {
    const morva::test::CapturedLog log(spdlog::level::debug);
    auth->CompleteAsync(Token());
    source->Fail(std::make_exception_ptr(
        InvalidInstrumentError("%s failed (HTTP %d): %s", "Get order book", 404,
                               "Invalid value specified for 'instrument'")));
    source->Open();
    EXPECT_EQ(service->GetBookRef(u"NOPE", 100), kStarted);
    EXPECT_EQ(Collect(u"NOPE", 100), kMissing);
    EXPECT_THAT(log.Lines(),
                HasSubstr("debug|morva::AsyncBookService::GetBookRef|Book(NOPE, 100) is not valid "
                          "[Get order book failed (HTTP 404): Invalid value specified for "
                          "'instrument']\n"));
    EXPECT_EQ(service->GetBookRef(u"NOPE", 100), kStarted);
    EXPECT_TRUE(source->WaitStarted(2));
}

TEST_F(AsyncBookServiceTest, OtherDownloadErrorIsRethrownOnceThenStartsAgain) {
    auth->CompleteAsync(Token());
    source->Fail(std::make_exception_ptr(
        MorvaError("%s failed (HTTP %d): %s", "Get order book", 500, "Internal error")));
    source->Open();
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    EXPECT_EQ(ErrorText([&] { Collect(u"EURUSD", 100); }),
              "Get order book failed (HTTP 500): Internal error");
    source->Fail(nullptr);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    EXPECT_EQ(Collect(u"EURUSD", 100), 1);  // the failure used no reference
}

TEST_F(AsyncBookServiceTest, FailedSignInIsRethrownOnEveryCall) {
    auth->FailAsync(std::make_exception_ptr(MorvaError("Sign-in window closed")));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ErrorText([&] { service->GetBookRef(u"EURUSD", 100); }), "Sign-in window closed");
    }
    EXPECT_EQ(source->started(), 0);
}

TEST_F(AsyncBookServiceTest, TwoTimesOfOneInstrumentLoadInParallel) {
    auth->CompleteAsync(Token());
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 200), kStarted);
    // Both are inside the closed source at once.
    ASSERT_TRUE(source->WaitStarted(2));
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStill);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 200), kStill);
    source->Open();
    const std::int32_t first = Collect(u"EURUSD", 100);
    const std::int32_t second = Collect(u"EURUSD", 200);
    EXPECT_EQ((std::set<std::int32_t>{first, second}), (std::set<std::int32_t>{1, 2}));
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), first);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 200), second);
}

TEST_F(AsyncBookServiceTest, ManyBooksAtOnceQueueBehindTheDownloadThreads) {
    auth->CompleteAsync(Token());
    constexpr int kThreads = static_cast<int>(AsyncBookService::kDownloadThreads);
    constexpr int kBooks = kThreads + 4;
    for (int i = 0; i < kBooks; ++i) {
        EXPECT_EQ(service->GetBookRef(u"EURUSD", i), kStarted);
    }
    ASSERT_TRUE(source->WaitStarted(kThreads));
    std::this_thread::sleep_for(50ms);  // time for a download beyond the limit to start
    EXPECT_EQ(source->started(), kThreads);
    // Queued or running, every one is still loading; none is started twice.
    EXPECT_EQ(service->GetBookRef(u"EURUSD", kBooks - 1), kStill);
    source->Open();
    std::set<std::int32_t> refs;
    for (int i = 0; i < kBooks; ++i) {
        refs.insert(Collect(u"EURUSD", i));
    }
    EXPECT_EQ(refs.size(), static_cast<std::size_t>(kBooks));
    EXPECT_EQ(*refs.begin(), 1);
    EXPECT_EQ(source->started(), kBooks);
}

TEST_F(AsyncBookServiceTest, ExpiredBookIsDownloadedAgainUnderANewRef) {
    auth->CompleteAsync(Token());
    source->Open();
    ASSERT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    ASSERT_EQ(Collect(u"EURUSD", 100), 1);
    service->FreeBookRef(1);
    clock->Advance(11s);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    EXPECT_EQ(Collect(u"EURUSD", 100), 2);
    EXPECT_EQ(ErrorText([&] { service->GetBookSize(1); }), "Book #1 not found");
}

TEST_F(AsyncBookServiceTest, FullQueueAnswersStillLoadingWithoutQueuingUntilDownloadsEnd) {
    auth->CompleteAsync(Token());
    constexpr int kMax = static_cast<int>(AsyncBookService::kMaxLoading);
    for (int time = 0; time < kMax; ++time) {
        ASSERT_EQ(service->GetBookRef(u"EURUSD", time), kStarted);
    }
    {
        const morva::test::CapturedLog log(spdlog::level::debug);
        EXPECT_EQ(service->GetBookRef(u"GBPUSD", 0), kStill);
        EXPECT_EQ(log.Lines(),
                  "debug|morva::AsyncBookService::GetBookRef|"
                  "Book(GBPUSD, 0) waits for room in the download queue\n");
    }
    EXPECT_EQ(service->PendingCount(), AsyncBookService::kMaxLoading);
    source->Open();
    ASSERT_TRUE(source->WaitFinished(kMax));
    EXPECT_EQ(Collect(u"GBPUSD", 0), kStarted);  // polls until a place is free
    EXPECT_EQ(Collect(u"GBPUSD", 0), 1);
    EXPECT_EQ(source->started(), kMax + 1);
}

TEST_F(AsyncBookServiceTest, AbandonedDownloadsAreDroppedOnceOlderThanTheLifetime) {
    auth->CompleteAsync(Token());
    source->Open();
    // A new time on every call, none asked for again. Each batch leaves room for the downloads
    // that have left the source but not yet ended.
    constexpr int kAbandoned = 5000;
    constexpr int kBatch =
        static_cast<int>(AsyncBookService::kMaxLoading - AsyncBookService::kDownloadThreads);
    for (int time = 0; time < kAbandoned; ++time) {
        if (time % kBatch == 0) {
            ASSERT_TRUE(source->WaitFinished(time));
        }
        ASSERT_EQ(service->GetBookRef(u"EURUSD", time), kStarted);
    }
    ASSERT_TRUE(source->WaitFinished(kAbandoned));
    EXPECT_EQ(service->PendingCount(), static_cast<std::size_t>(kAbandoned));
    clock->Advance(11s);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", kAbandoned), kStarted);
    // Left: the new one and those whose threads had not yet handed their result over.
    EXPECT_LE(service->PendingCount(), AsyncBookService::kDownloadThreads + 1);
}

TEST_F(AsyncBookServiceTest, DownloadPolledPastTheLifetimeIsKeptUntilCollected) {
    auth->CompleteAsync(Token());
    ASSERT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    ASSERT_TRUE(source->WaitStarted(1));
    clock->Advance(11s);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStill);  // running: never dropped
    source->Open();
    ASSERT_TRUE(source->WaitFinished(1));
    clock->Advance(9s);
    EXPECT_EQ(Collect(u"EURUSD", 100), 1);  // last asked 9 s ago
    EXPECT_EQ(source->started(), 1);
}

TEST_F(AsyncBookServiceTest, DestructionWaitsForARunningDownload) {
    auth->CompleteAsync(Token());
    ASSERT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    ASSERT_TRUE(source->WaitStarted(1));
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        source->Open();
    });
    service.reset();
    EXPECT_EQ(source->finished(), 1);
    releaser.join();
}

}  // namespace
