#include "deadline.h"

#include <algorithm>
#include <thread>

Deadline::Deadline(std::chrono::seconds limit)
    : limit_(limit), end_(std::chrono::steady_clock::now() + limit) {}

bool Deadline::Expired() const {
    return std::chrono::steady_clock::now() >= end_;
}

void Deadline::Pause(std::chrono::milliseconds pause) const {
    const auto now = std::chrono::steady_clock::now();
    if (now < end_) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, end_ - now));
    }
}

std::string Deadline::TimeoutText(const std::string& what) const {
    return "timed out after " + std::to_string(limit_.count()) + " s waiting for " + what;
}
