#pragma once

#include <cstdint>

namespace morva {

// Trading-server time to UTC and back. Both sides are 64-bit counts of seconds since 1970-01-01
// 00:00, read in the server's clock or in UTC; 0 means "no time" (the latest book) and passes
// through both directions unchanged. Implementations are immutable, so any thread may call them.
class TimeConverter {
  public:
    virtual std::int64_t ServerTimeToUtc(std::int64_t serverTime) const = 0;
    virtual std::int64_t UtcToServerTime(std::int64_t utcTime) const = 0;
    virtual ~TimeConverter() = default;
};

}  // namespace morva
