#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <utility>

#include "time/time_converter.h"

namespace morva::test {

// A server clock a fixed number of seconds ahead of UTC, without any zone: server = UTC + offset.
// 0 stays 0 in both directions, as with the real converter. Calls are counted; a converter built
// with a failure throws it from every conversion of a nonzero time.
class FakeTimeConverter : public TimeConverter {
  public:
    explicit FakeTimeConverter(std::int64_t offsetSeconds, std::exception_ptr failure = nullptr)
        : offsetSeconds_(offsetSeconds), failure_(std::move(failure)) {}

    std::int64_t ServerTimeToUtc(std::int64_t serverTime) const override {
        ++toUtcCalls_;
        return Convert(serverTime, -offsetSeconds_);
    }
    std::int64_t UtcToServerTime(std::int64_t utcTime) const override {
        ++toServerCalls_;
        return Convert(utcTime, offsetSeconds_);
    }

    std::int64_t offsetSeconds() const { return offsetSeconds_; }
    int toUtcCalls() const { return toUtcCalls_; }
    int toServerCalls() const { return toServerCalls_; }

  private:
    std::int64_t Convert(std::int64_t time, std::int64_t shift) const {
        if (time == 0) {
            return 0;
        }
        if (failure_ != nullptr) {
            std::rethrow_exception(failure_);
        }
        return time + shift;
    }

    const std::int64_t offsetSeconds_;
    const std::exception_ptr failure_;
    mutable std::atomic<int> toUtcCalls_{0};
    mutable std::atomic<int> toServerCalls_{0};
};

}  // namespace morva::test
