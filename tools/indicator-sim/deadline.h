#pragma once

#include <chrono>
#include <string>

// The limit on one wait of the simulator (set-up, a round of books), so that no run hangs on a
// library that never answers.
class Deadline {
  public:
    explicit Deadline(std::chrono::seconds limit);

    bool Expired() const;
    // Sleeps for `pause`, or until the deadline when that comes first.
    void Pause(std::chrono::milliseconds pause) const;
    // "timed out after 120 s waiting for <what>"
    std::string TimeoutText(const std::string& what) const;

  private:
    std::chrono::seconds limit_;
    std::chrono::steady_clock::time_point end_;
};
