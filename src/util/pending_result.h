#pragma once

#include <chrono>
#include <future>
#include <map>
#include <optional>
#include <utility>

#include "util/outcome.h"
#include "util/worker_pool.h"

namespace morva {

namespace pending_result_detail {

template <class T>
bool Ready(const std::future<T>& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace pending_result_detail

// The outcome of a task on a WorkerPool, for callers that poll instead of waiting. The first Poll
// starts the task; until it has finished every Poll answers nullopt; the Poll that finds it
// finished hands its result out, or rethrows its exception, and forgets it, so the next Poll
// starts over. Not synchronised: the owner calls it under a lock of its own.
template <class T>
class PendingResult {
  public:
    // Starts `task(args...)` on `pool` unless a task is pending. The arguments are copied into the
    // task only when it starts, as it may outlive the caller's. Throws what Submit throws.
    template <class Task, class... Args>
    std::optional<T> Poll(WorkerPool& pool, Task&& task, const Args&... args) {
        if (!future_.valid()) {
            future_ = pool.Submit([task = std::forward<Task>(task), args...] {
                return Outcome<T>::Of([&] { return task(args...); });
            });
        }
        if (!pending_result_detail::Ready(future_)) {
            return std::nullopt;
        }
        // Moved out first: handed out once, whether get() returns or rethrows.
        std::future<Outcome<T>> finished = std::move(future_);
        return finished.get().Take();
    }

    // For the owner's destructor: the task may use the owner, which must still stand.
    void Wait() const {
        if (future_.valid()) {
            future_.wait();
        }
    }

  private:
    std::future<Outcome<T>> future_;  // empty when nothing is pending
};

// PendingResult for any number of keys at once, one task per key.
template <class Key, class T>
class PendingResults {
  public:
    // Starts `task(key)` on `pool` unless one is pending for `key`; the task gets a copy of the
    // key of its own.
    template <class Task>
    std::optional<T> Poll(WorkerPool& pool, const Key& key, Task&& task) {
        auto pending = pending_.find(key);
        if (pending == pending_.end()) {
            auto future = pool.Submit([task = std::forward<Task>(task), key] {
                return Outcome<T>::Of([&] { return task(key); });
            });
            pending = pending_.emplace(key, std::move(future)).first;
        }
        if (!pending_result_detail::Ready(pending->second)) {
            return std::nullopt;
        }
        std::future<Outcome<T>> finished = std::move(pending->second);
        pending_.erase(pending);
        return finished.get().Take();
    }

    void Wait() const {
        for (const auto& [key, future] : pending_) {
            future.wait();
        }
    }

  private:
    std::map<Key, std::future<Outcome<T>>> pending_;
};

}  // namespace morva
