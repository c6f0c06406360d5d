#pragma once

#include <chrono>
#include <mutex>

#include "util/clock.h"

namespace morva::test {

// A clock that moves only when a test says so.
class FakeClock : public Clock {
  public:
    std::chrono::steady_clock::time_point SteadyNow() const override {
        const std::lock_guard lock(mutex_);
        return steady_;
    }
    std::chrono::system_clock::time_point SystemNow() const override {
        const std::lock_guard lock(mutex_);
        return system_;
    }
    void Advance(std::chrono::nanoseconds by) {
        const std::lock_guard lock(mutex_);
        steady_ += by;
        system_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(by);
    }
    void SetSystem(std::chrono::system_clock::time_point now) {
        const std::lock_guard lock(mutex_);
        system_ = now;
    }

  private:
    mutable std::mutex mutex_;  // guards both instants: tests advance while tasks read
    std::chrono::steady_clock::time_point steady_{std::chrono::hours(1000)};
    std::chrono::system_clock::time_point system_{std::chrono::seconds(1'765'000'000)};
};

}  // namespace morva::test
