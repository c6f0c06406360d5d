#pragma once

#include <chrono>

namespace morva {

// Elapsed time on the monotonic clock, for the "in 0.000123s" parts of log lines.
class Stopwatch {
  public:
    Stopwatch() noexcept : start_(std::chrono::steady_clock::now()) {}

    double Seconds() const noexcept {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

  private:
    std::chrono::steady_clock::time_point start_;
};

}  // namespace morva
