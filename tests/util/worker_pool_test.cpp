#include "util/worker_pool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/gate.h"

namespace {

using morva::WorkerPool;
using morva::test::Gate;
using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;

TEST(WorkerPool, ResultsAndExceptionsArriveThroughTheFutures) {
    WorkerPool pool(2);
    std::future<int> answer = pool.Submit([] { return 42; });
    std::future<void> failure = pool.Submit([] { throw std::runtime_error("download failed"); });
    std::atomic<bool> ran{false};
    std::future<void> nothing = pool.Submit([&] { ran = true; });

    EXPECT_EQ(answer.get(), 42);
    EXPECT_THAT([&] { failure.get(); },
                testing::ThrowsMessage<std::runtime_error>(testing::StrEq("download failed")));
    nothing.get();
    EXPECT_TRUE(ran);
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

}  // namespace
