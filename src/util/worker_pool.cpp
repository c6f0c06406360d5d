#include "util/worker_pool.h"

#include <algorithm>
#include <system_error>

namespace morva {

WorkerPool::WorkerPool(std::size_t maxThreads) : maxThreads_(std::max<std::size_t>(maxThreads, 1)) {
    // Reserved up front, so that keeping a started thread can never fail.
    threads_.reserve(maxThreads_);
}

WorkerPool::~WorkerPool() {
    std::deque<std::packaged_task<void()>> dropped;
    {
        const std::lock_guard lock(queueMutex_);
        stopping_ = true;
        dropped.swap(queue_);
    }
    queued_.notify_all();
    // Outside the lock, as the tasks' captures may own anything; before the joins, so that their
    // callers learn at once.
    dropped.clear();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void WorkerPool::Enqueue(std::packaged_task<void()> job) {
    {
        const std::lock_guard lock(queueMutex_);
        queue_.push_back(std::move(job));
        if (idle_ < queue_.size() && threads_.size() < maxThreads_) {
            // Started under the lock, at most maxThreads_ times in the pool's life: the queue and
            // the thread count stay consistent if the start fails.
            try {
                threads_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                if (threads_.empty()) {
                    queue_.pop_back();  // nobody would ever run it
                    throw;
                }
                // A running thread takes the task later.
            }
        }
    }
    queued_.notify_one();
}

void WorkerPool::Work() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        ++idle_;
        queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        --idle_;
        if (stopping_) {
            return;
        }
        std::packaged_task<void()> job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        job();  // a packaged task keeps its exception for the future
        job = {};
        lock.lock();
    }
}

}  // namespace morva
