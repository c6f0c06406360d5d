#pragma once

#include <cstdint>
#include <string>

namespace morva {

// The clock settings of one family of trading servers: one entry of the metadata document's
// "servers".
struct ServerConfig {
    std::u16string namePattern;       // ECMAScript, must match the server's whole name
    std::int32_t utcOffset = 0;       // hours, while the zone below is on standard time
    std::u16string daylightTimeZone;  // Windows time-zone key name whose DST the clock follows

    friend bool operator==(const ServerConfig&, const ServerConfig&) = default;
};

}  // namespace morva
