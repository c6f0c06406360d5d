#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace morva::test {

// Where a fake holds its callers while a test keeps them running. Counts the calls that entered
// and left, so a test can wait for a call to be inside before it opens the gate.
class Gate {
  public:
    // Enters on construction and waits while the gate is closed; leaves on destruction, so a call
    // counts as finished only once what it recorded is visible to the test.
    class Pass {
      public:
        explicit Pass(Gate& gate) : gate_(gate) { gate_.Enter(); }
        ~Pass() { gate_.Leave(); }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

      private:
        Gate& gate_;
    };

    void Close() {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // True when `count` calls have entered (or left) within the deadline.
    bool WaitStarted(int count, std::chrono::seconds deadline = std::chrono::seconds(20)) {
        return WaitFor(started_, count, deadline);
    }
    bool WaitFinished(int count, std::chrono::seconds deadline = std::chrono::seconds(20)) {
        return WaitFor(finished_, count, deadline);
    }
    int started() const { return Read(started_); }
    int finished() const { return Read(finished_); }
    // The most calls that were inside at once.
    int maxRunning() const { return Read(maxRunning_); }

  private:
    void Enter() {
        std::unique_lock lock(mutex_);
        ++started_;
        maxRunning_ = std::max(maxRunning_, started_ - finished_);
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    void Leave() {
        const std::lock_guard lock(mutex_);
        ++finished_;
        changed_.notify_all();
    }
    bool WaitFor(const int& counter, int count, std::chrono::seconds deadline) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return counter >= count; });
    }
    int Read(const int& counter) const {
        const std::lock_guard lock(mutex_);
        return counter;
    }

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    bool open_ = true;
    int started_ = 0;
    int finished_ = 0;
    int maxRunning_ = 0;
};

}  // namespace morva::test
