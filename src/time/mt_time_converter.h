#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "time/time_converter.h"

namespace morva {

namespace time_detail {
// The pair of system conversions a Windows build uses (time/win_time_zone.h); opaque elsewhere.
struct ZoneConversions;
}  // namespace time_detail

// A trading server's clock: UTC plus offsetMinutes plus the daylight-saving shift of one Windows
// time zone, named by its key name. The zone's standard distance from UTC cancels out:
//     server time = UTC + offsetMinutes * 60 + the zone's daylight saving in effect.
// Windows takes the zone from the system's dynamic time zones; other builds map the key name to
// a zone through ICU's own Windows-zone mapping and take the rules from ICU.
class MTTimeConverter final : public TimeConverter {
  public:
    // Throws MorvaError "Could not find \"%ls\" time zone in the system" when the key name (letter
    // case included) names no zone.
    MTTimeConverter(std::int32_t offsetMinutes, const std::u16string& zoneKeyName);
    // Windows builds only (defined there): with the given system conversions instead of the
    // preferred ones, so that tests can run the fallback wherever the ...Ex forms exist.
    MTTimeConverter(std::int32_t offsetMinutes, const std::u16string& zoneKeyName,
                    const time_detail::ZoneConversions& conversions);
    ~MTTimeConverter() override;
    MTTimeConverter(const MTTimeConverter&) = delete;
    MTTimeConverter& operator=(const MTTimeConverter&) = delete;

    // Both throw MorvaError "%s failed. %s" when a system conversion fails: "Convert FileTime to
    // SystemTime" (a time outside 1601-30827), "Convert specific time zone to UTC", "Convert UTC
    // to specific time zone".
    std::int64_t ServerTimeToUtc(std::int64_t serverTime) const override;
    std::int64_t UtcToServerTime(std::int64_t utcTime) const override;

    std::int32_t offsetMinutes() const { return offsetMinutes_; }

  private:
    struct Zone;  // the platform's zone record and rules

    const std::int32_t offsetMinutes_;
    std::unique_ptr<const Zone> zone_;
};

}  // namespace morva
