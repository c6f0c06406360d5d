#include "books/async_book_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "base/log.h"
#include "base/morva_error.h"
#include "books/book_service.h"
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

constexpr std::int32_t kStarted = static_cast<std::int32_t>(BookRefStatus::StartedLoading);
constexpr std::int32_t kStill = static_cast<std::int32_t>(BookRefStatus::StillLoading);
constexpr std::int32_t kWaiting = static_cast<std::int32_t>(BookRefStatus::WaitingForAuthorization);
constexpr std::int32_t kMissing = static_cast<std::int32_t>(BookRefStatus::DoesNotExist);
constexpr auto kDeadline = 10s;

auto Fails(const char* text) {
    return ThrowsMessage<MorvaError>(StrEq(text));
}

const AccessToken kToken{"Bearer", "async-token", 3600, {}, {}};

class AsyncBookServiceTest : public ::testing::Test {
  protected:
    AsyncBookServiceTest() { source->Close(); }
    ~AsyncBookServiceTest() override {
        // A failed expectation must not leave a download blocked in the destructor.
        source->Open();
        service.reset();
    }

    // Polls as an indicator does: the service tells of an ended download no other way, and the
    // result is handed over just after the source returns. The deadline is only a fail-safe;
    // errors of the collecting call pass through.
    std::int32_t Collect(const std::u16string& instrument, std::int64_t time) {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        std::int32_t result = service->GetBookRef(instrument, time);
        while (result == kStill && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
            result = service->GetBookRef(instrument, time);
        }
        return result;
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeAuthService> auth = std::make_shared<FakeAuthService>();
    std::shared_ptr<FakeBookSource> source = std::make_shared<FakeBookSource>();
    BookRefSequence bookRefs;
    std::unique_ptr<AsyncBookService> service =
        std::make_unique<AsyncBookService>(10, bookRefs, auth, source, clock);
};

TEST_F(AsyncBookServiceTest, NothingStartsWithoutAnInstrumentOrWhileTheSignInWaitsOrAfterItFailed) {
    const test::CapturedLog log(spdlog::level::debug);
    EXPECT_THAT([&] { service->GetBookRef(u"", 100); }, Fails("Book must have an instrument"));
    EXPECT_EQ(auth->asyncCalls(), 0);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kWaiting);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kWaiting);
    EXPECT_EQ(auth->asyncCalls(), 2);
    EXPECT_THAT(log.Messages(),
                HasSubstr("debug|Book(EURUSD, 100) is waiting for authorization\n"));

    auth->FailAsync(std::make_exception_ptr(MorvaError("Sign-in window closed")));
    for (int i = 0; i < 2; ++i) {
        EXPECT_THAT([&] { service->GetBookRef(u"EURUSD", 100); }, Fails("Sign-in window closed"));
    }
    EXPECT_EQ(auth->blockingCalls(), 0);
    EXPECT_EQ(source->started(), 0);
}

TEST_F(AsyncBookServiceTest, StartsThenLoadsThenAnswersTheRefFromTheCache) {
    const test::CapturedLog log(spdlog::level::debug);
    auth->CompleteAsync(kToken);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStill);
    ASSERT_TRUE(source->WaitStarted(1));
    source->Open();
    EXPECT_EQ(Collect(u"EURUSD", 100), 1);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), 1);
    EXPECT_EQ(service->GetBookSize(1), 3u);
    EXPECT_EQ(source->started(), 1);
    EXPECT_EQ(source->lastToken(), "async-token");

    const std::string lines = log.Messages();
    for (const char* event :
         {" started loading", " is still loading", " #1 is ready", " #1 is cached"}) {
        EXPECT_THAT(lines, HasSubstr(std::string("debug|Book(EURUSD, 100)") + event + "\n"));
    }
}

// A rejected instrument answers DoesNotExist, any other failure is rethrown; either once, and
// the next call starts again.
TEST_F(AsyncBookServiceTest, AFailedDownloadIsReportedOnceThenStartsAgain) {
    const test::CapturedLog log(spdlog::level::debug);
    auth->CompleteAsync(kToken);
    source->Fail(std::make_exception_ptr(
        InvalidInstrumentError("%s failed (HTTP %d): %s", "Get order book", 404, "Invalid")));
    source->Open();
    EXPECT_EQ(service->GetBookRef(u"NOPE", 100), kStarted);
    EXPECT_EQ(Collect(u"NOPE", 100), kMissing);
    EXPECT_THAT(log.Messages(), HasSubstr("debug|Book(NOPE, 100) is not valid "
                                          "[Get order book failed (HTTP 404): Invalid]\n"));

    source->Fail(std::make_exception_ptr(
        MorvaError("%s failed (HTTP %d): %s", "Get order book", 500, "Internal error")));
    EXPECT_EQ(service->GetBookRef(u"NOPE", 100), kStarted);
    EXPECT_THAT([&] { Collect(u"NOPE", 100); },
                Fails("Get order book failed (HTTP 500): Internal error"));
    source->Fail(nullptr);
    EXPECT_EQ(service->GetBookRef(u"NOPE", 100), kStarted);
    EXPECT_EQ(Collect(u"NOPE", 100), 1);  // the failures used no reference
    EXPECT_EQ(source->started(), 3);
}

TEST_F(AsyncBookServiceTest, ManyBooksAtOnceQueueBehindTheDownloadThreads) {
    auth->CompleteAsync(kToken);
    constexpr int kThreads = static_cast<int>(AsyncBookService::kDownloadThreads);
    constexpr int kBooks = kThreads + 4;
    for (int i = 0; i < kBooks; ++i) {
        EXPECT_EQ(service->GetBookRef(u"EURUSD", i), kStarted);
    }
    ASSERT_TRUE(source->WaitStarted(kThreads));
    // Queued or running, every one is still loading; none is started twice.
    EXPECT_EQ(service->GetBookRef(u"EURUSD", kBooks - 1), kStill);
    source->Open();
    std::set<std::int32_t> refs;
    for (int i = 0; i < kBooks; ++i) {
        refs.insert(Collect(u"EURUSD", i));
    }
    EXPECT_EQ(refs.size(), static_cast<std::size_t>(kBooks));
    EXPECT_EQ(source->started(), kBooks);
    EXPECT_EQ(source->maxRunning(), kThreads);
}

TEST_F(AsyncBookServiceTest, FullQueueAnswersStillLoadingWithoutQueuingUntilDownloadsEnd) {
    auth->CompleteAsync(kToken);
    constexpr int kMax = static_cast<int>(AsyncBookService::kMaxLoading);
    for (int time = 0; time < kMax; ++time) {
        ASSERT_EQ(service->GetBookRef(u"EURUSD", time), kStarted);
    }
    {
        const test::CapturedLog log(spdlog::level::debug);
        EXPECT_EQ(service->GetBookRef(u"GBPUSD", 0), kStill);
        EXPECT_THAT(log.Messages(),
                    HasSubstr("debug|Book(GBPUSD, 0) waits for room in the download queue\n"));
    }
    EXPECT_EQ(service->PendingCount(), AsyncBookService::kMaxLoading);
    source->Open();
    ASSERT_TRUE(source->WaitFinished(kMax));
    EXPECT_EQ(Collect(u"GBPUSD", 0), kStarted);  // polls until a place is free
    EXPECT_EQ(Collect(u"GBPUSD", 0), 1);
    EXPECT_EQ(source->started(), kMax + 1);
}

TEST_F(AsyncBookServiceTest, AbandonedDownloadsAreDroppedOnceOlderThanTheLifetime) {
    auth->CompleteAsync(kToken);
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
    auth->CompleteAsync(kToken);
    ASSERT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    ASSERT_TRUE(source->WaitStarted(1));
    clock->Advance(11s);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStill);  // running: never dropped
    source->Open();
    ASSERT_TRUE(source->WaitFinished(1));
    clock->Advance(9s);
    EXPECT_EQ(Collect(u"EURUSD", 100), 1);  // last asked 9 s ago
    EXPECT_EQ(source->started(), 1);

    // Released and expired, the book is downloaded again under a new reference.
    service->FreeBookRef(1);
    clock->Advance(11s);
    EXPECT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    EXPECT_EQ(Collect(u"EURUSD", 100), 2);
    EXPECT_THAT([&] { service->GetBookSize(1); }, Fails("Book #1 not found"));
}

TEST_F(AsyncBookServiceTest, DestructionWaitsForARunningDownload) {
    auth->CompleteAsync(kToken);
    ASSERT_EQ(service->GetBookRef(u"EURUSD", 100), kStarted);
    ASSERT_TRUE(source->WaitStarted(1));
    // What the download had done when the destruction returned.
    auto destroyed = std::async(std::launch::async, [&] {
        service.reset();
        return source->finished();
    });
    source->Open();
    ASSERT_EQ(destroyed.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(destroyed.get(), 1);
}

}  // namespace
}  // namespace morva
