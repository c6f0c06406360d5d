#pragma once

#include <chrono>
#include <memory>

#include "util/no_destructor.h"

namespace morva {

// The clocks the library reads, behind one seam so that lifetimes and "now" rules are tested
// without sleeping. Services take a shared Clock in their constructor, the real one by default.
class Clock {
  public:
    virtual std::chrono::steady_clock::time_point SteadyNow() const {
        return std::chrono::steady_clock::now();
    }
    virtual std::chrono::system_clock::time_point SystemNow() const {
        return std::chrono::system_clock::now();
    }
    virtual ~Clock() = default;
};

// The real clocks, shared by everyone who is given no other. Never destroyed: background tasks
// may still read it while the process exits.
inline std::shared_ptr<const Clock> RealClock() {
    static NoDestructor<const std::shared_ptr<const Clock>> clock(std::make_shared<const Clock>());
    return *clock;
}

}  // namespace morva
