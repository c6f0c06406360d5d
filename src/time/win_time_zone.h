#pragma once

// Windows only: the system conversions behind MTTimeConverter, apart so that tests can run the
// converter over either pair and check which one the system offers.

#include <windows.h>

namespace morva::time_detail {

// TzSpecificLocalTimeToSystemTimeEx's and SystemTimeToTzSpecificLocalTimeEx's signature.
using ZoneConversion = BOOL(WINAPI*)(const DYNAMIC_TIME_ZONE_INFORMATION* zone,
                                     const SYSTEMTIME* from, SYSTEMTIME* to);

struct ZoneConversions {
    ZoneConversion localToUtc;  // a wall-clock time of the zone to UTC, that year's rules
    ZoneConversion utcToLocal;  // UTC to the zone's wall-clock time, that year's rules
    bool exForms;               // true: the system's own ...Ex functions
};

// The ...Ex functions when kernel32 exports them (Windows 8 and later), else the year-rule pair
// below. Resolved once, at first use.
const ZoneConversions& PreferredZoneConversions();
// Always the year-rule pair.
const ZoneConversions& YearRuleZoneConversions();

// The ...Ex contract built from older parts: the zone's rules for the year of the time being
// converted (GetTimeZoneInformationForYear, which reads the zone's dynamic rules by key name),
// applied by TzSpecificLocalTimeToSystemTime / SystemTimeToTzSpecificLocalTime.
BOOL WINAPI LocalToUtcByYearRules(const DYNAMIC_TIME_ZONE_INFORMATION* zone,
                                  const SYSTEMTIME* local, SYSTEMTIME* utc);
BOOL WINAPI UtcToLocalByYearRules(const DYNAMIC_TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc,
                                  SYSTEMTIME* local);

// EnumDynamicTimeZoneInformation, looked up at run time (the 32-bit MinGW import library lacks
// it). Throws MorvaError on a Windows without dynamic time zones.
using EnumZonesFunction = DWORD(WINAPI*)(DWORD, PDYNAMIC_TIME_ZONE_INFORMATION);
EnumZonesFunction EnumZones();

}  // namespace morva::time_detail
