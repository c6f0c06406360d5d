#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace morva {

// Runs tasks on at most `maxThreads` threads of its own, started as tasks arrive and kept until the
// pool ends, so a caller never pays for starting or joining a thread once the pool is warm, and a
// burst of requests queues instead of swamping the machine with threads. Submit never waits for a
// task. Destroying the pool drops the tasks not yet started (their futures then report
// std::future_errc::broken_promise) and waits for those running; nothing may Submit meanwhile.
class WorkerPool {
  public:
    explicit WorkerPool(std::size_t maxThreads);
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The task's result, or its exception, arrives through the future. Throws std::system_error
    // when no thread can be started and none is running to take the task.
    template <class Task>
    std::future<std::invoke_result_t<Task&>> Submit(Task task) {
        std::packaged_task<std::invoke_result_t<Task&>()> job(std::move(task));
        auto result = job.get_future();
        Run(std::move(job));
        return result;
    }

    // For a caller that takes the future first, under a lock of its own, and hands the task over
    // after releasing it. Throws as Submit does, dropping the task.
    template <class Result>
    void Run(std::packaged_task<Result()> job) {
        Enqueue(std::packaged_task<void()>([job = std::move(job)]() mutable { job(); }));
    }

  private:
    void Enqueue(std::packaged_task<void()> job);
    void Work();

    const std::size_t maxThreads_;
    std::mutex queueMutex_;  // guards queue_, idle_, stopping_ and threads_
    std::condition_variable queued_;
    std::deque<std::packaged_task<void()>> queue_;
    std::size_t idle_ = 0;  // threads waiting for a task
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace morva
