#include "util/worker_pool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/gate.h"
#include "util/pending_result.h"

namespace {

using morva::PendingResult;
using morva::PendingResults;
using morva::WorkerPool;
using morva::test::Gate;
using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;

TEST(WorkerPool, ResultsAndExceptionsArriveThroughTheFutures) {
    WorkerPool pool(2);
    std::future<int> answer = pool.Submit([] { return 42; });
    std::future<void> failure = pool.Submit([] { throw std::runtime_error("download failed"); });

    EXPECT_EQ(answer.get(), 42);
    EXPECT_THAT([&] { failure.get(); },
                testing::ThrowsMessage<std::runtime_error>(testing::StrEq("download failed")));
}

TEST(WorkerPool, ABurstQueuesBehindItsThreadsAndEveryTaskRuns) {
    Gate gate;
    gate.Close();
    WorkerPool pool(3);
    std::vector<std::future<std::thread::id>> results;
    for (int i = 0; i < 10; ++i) {
        results.push_back(pool.Submit([&gate] {
            const Gate::Pass pass(gate);
            return std::this_thread::get_id();
        }));
    }
    ASSERT_TRUE(gate.WaitStarted(3));
    gate.Open();
    // Ten tasks, each held until the first three were inside: a pool that started a thread per
    // queued task would have run them on more than three threads.
    std::set<std::thread::id> threads;
    for (auto& result : results) {
        ASSERT_EQ(result.wait_for(kDeadline), std::future_status::ready);
        threads.insert(result.get());
    }
    EXPECT_EQ(threads.size(), 3U);
}

TEST(WorkerPool, ItsThreadIsKeptBetweenTasks) {
    WorkerPool pool(1);
    // Counts the tasks each thread has run: a thread per task would count one every time.
    const auto countOnThisThread = [] {
        thread_local int count = 0;
        return ++count;
    };
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(pool.Submit(countOnThisThread).get(), i);
    }
}

TEST(WorkerPool, DestructionWaitsForRunningTasksAndDropsQueuedOnes) {
    Gate gate;
    gate.Close();
    auto pool = std::make_unique<WorkerPool>(1);
    std::atomic<bool> finished{false};
    std::future<void> running = pool->Submit([&] {
        const Gate::Pass pass(gate);
        finished = true;
    });
    std::atomic<bool> queuedRan{false};
    std::future<void> queued = pool->Submit([&] { queuedRan = true; });
    ASSERT_TRUE(gate.WaitStarted(1));

    // The running task is let go only once the destructor has dropped the queued one.
    std::future_status dropped = std::future_status::timeout;
    std::thread opener([&] {
        dropped = queued.wait_for(kDeadline);
        gate.Open();
    });
    pool.reset();
    opener.join();
    EXPECT_EQ(dropped, std::future_status::ready);
    EXPECT_TRUE(finished);

    EXPECT_NO_THROW(running.get());
    EXPECT_FALSE(queuedRan);
    EXPECT_THAT(
        [&] { queued.get(); },
        testing::Throws<std::future_error>(testing::Property(
            &std::future_error::code, std::make_error_code(std::future_errc::broken_promise))));
}

TEST(PendingResult, StartsOneTaskAtATimeAndHandsEachResultOutOnce) {
    WorkerPool pool(2);
    Gate gate;
    gate.Close();
    std::atomic<int> started{0};
    const auto echo = [&](int value) {
        ++started;
        const Gate::Pass pass(gate);
        return value;
    };
    PendingResult<int> pending;

    EXPECT_EQ(pending.Poll(pool, echo, 1), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, echo, 2), std::nullopt);  // polls the first, starts nothing
    gate.Open();
    pending.Wait();
    EXPECT_EQ(pending.Poll(pool, echo, 3), 1);
    EXPECT_EQ(started, 1);
    // That the next poll starts over: the failure's test below.
}

// The worker lets go of a finished task at its own pace, often after the poller has handled the
// failure: the thread sanitizer reports it unless the failure belongs to the poller alone.
TEST(PendingResult, HandsEachFailureToThePollerAloneOnceThenStartsOver) {
    WorkerPool pool(1);
    PendingResult<int> pending;
    const auto fail = []() -> int { throw std::runtime_error("lookup failed"); };
    for (int round = 0; round < 2000; ++round) {
        try {
            while (!pending.Poll(pool, fail)) {
                pending.Wait();
            }
            FAIL() << "no exception";
        } catch (const std::runtime_error& error) {
            ASSERT_STREQ(error.what(), "lookup failed");
        }
    }
    std::optional<int> result;
    while (!(result = pending.Poll(pool, [] { return 7; }))) {
        pending.Wait();
    }
    EXPECT_EQ(result, 7);
}

TEST(PendingResults, RunsOneTaskPerKeyAndHandsEachOutcomeOutOnce) {
    WorkerPool pool(2);
    Gate gate;
    gate.Close();
    std::atomic<int> started{0};
    const auto load = [&](const std::string& key) -> std::string {
        ++started;
        const Gate::Pass pass(gate);
        if (key == "bad") {
            throw std::runtime_error("no such key");
        }
        return key + " loaded";
    };
    PendingResults<std::string, std::string> pending;

    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, "bad", load), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    gate.Open();
    pending.Wait();
    EXPECT_EQ(started, 2);
    EXPECT_THROW(pending.Poll(pool, "bad", load), std::runtime_error);
    EXPECT_EQ(pending.Poll(pool, "a", load), "a loaded");

    gate.Close();
    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    gate.Open();
    pending.Wait();
    EXPECT_EQ(pending.Poll(pool, "a", load), "a loaded");
    EXPECT_EQ(started, 3);
}

}  // namespace
