#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace morva::test {

// Holds the tasks that pass it until the test opens it, counting how many wait inside. Closed
// again only once every task let through has passed (the test waits for their results first).
class Gate {
  public:
    void Pass() {
        std::unique_lock lock(mutex_);
        ++inside_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --inside_;
    }
    void Open() { Set(true); }
    void Close() { Set(false); }
    // False when fewer than `count` tasks got inside within seconds.
    bool WaitInside(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return inside_ >= count; });
    }

  private:
    void Set(bool open) {
        const std::lock_guard lock(mutex_);
        open_ = open;
        changed_.notify_all();
    }

    std::mutex mutex_;  // guards open_ and inside_
    std::condition_variable changed_;
    bool open_ = false;
    int inside_ = 0;
};

}  // namespace morva::test
