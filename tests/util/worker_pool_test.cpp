#include "util/worker_pool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using morva::WorkerPool;
using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;

// Tasks that block until the test opens it, counting how many are inside at once.
class Gate {
  public:
    void Pass() {
        std::unique_lock lock(mutex_);
        ++inside_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --inside_;
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool WaitInside(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return inside_ >= count; });
    }

  private:
    std::mutex mutex_;  // guards open_ and inside_
    std::condition_variable changed_;
    bool open_ = false;
    int inside_ = 0;
};

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
    WorkerPool pool(3);
    std::vector<std::future<std::thread::id>> results;
    for (int i = 0; i < 10; ++i) {
        results.push_back(pool.Submit([&gate] {
            gate.Pass();
            return std::this_thread::get_id();
        }));
    }
    ASSERT_TRUE(gate.WaitInside(3));
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
    auto pool = std::make_unique<WorkerPool>(1);
    std::atomic<bool> finished{false};
    std::future<void> running = pool->Submit([&] {
        gate.Pass();
        finished = true;
    });
    std::atomic<bool> queuedRan{false};
    std::future<void> queued = pool->Submit([&] { queuedRan = true; });
    ASSERT_TRUE(gate.WaitInside(1));

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
