#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/last_error.h"
#include "base/morva_error.h"
#include "base/native_library.h"
#include "time/mt_time_converter.h"
#include "time/win_time_zone.h"
#include "util/calendar.h"
#include "util/no_destructor.h"

namespace morva {

namespace time_detail {

namespace {

// Never closed: the functions taken from them are kept for good, and a FreeLibrary from the
// static destructors would run at process exit, where it is not allowed.
const NativeLibrary& Kernel32() {
    static NoDestructor<NativeLibrary> library(NativeLibrary::Open(L"kernel32.dll"));
    return *library;
}

const NativeLibrary& Advapi32() {
    static NoDestructor<NativeLibrary> library(NativeLibrary::Open(L"advapi32.dll"));
    return *library;
}

// Why the ...Ex conversions are resolved at run time and not imported: Wine 8.0, where the
// Windows build is tested, lacks TzSpecificLocalTimeToSystemTimeEx and
// SystemTimeToTzSpecificLocalTimeEx in kernel32 (kernelbase has stubs that abort the process when
// called), and a DLL importing them statically is refused by the loader there. Where kernel32
// does not export them, the same year's rules go through GetTimeZoneInformationForYear and the
// non-Ex conversions, which is what the ...Ex functions are defined to do.
ZoneConversions ResolveZoneConversions() {
    const auto localToUtc = Kernel32().Symbol<decltype(::TzSpecificLocalTimeToSystemTimeEx)>(
        "TzSpecificLocalTimeToSystemTimeEx");
    const auto utcToLocal = Kernel32().Symbol<decltype(::SystemTimeToTzSpecificLocalTimeEx)>(
        "SystemTimeToTzSpecificLocalTimeEx");
    if (localToUtc != nullptr && utcToLocal != nullptr) {
        return {localToUtc, utcToLocal, true};
    }
    return YearRuleZoneConversions();
}

// The zone's rules for one year; the record is not changed, the API only lacks a const.
BOOL RulesForYear(const DYNAMIC_TIME_ZONE_INFORMATION* zone, WORD year,
                  TIME_ZONE_INFORMATION* rules) {
    DYNAMIC_TIME_ZONE_INFORMATION copy = *zone;
    return GetTimeZoneInformationForYear(year, &copy, rules);
}

}  // namespace

BOOL WINAPI LocalToUtcByYearRules(const DYNAMIC_TIME_ZONE_INFORMATION* zone,
                                  const SYSTEMTIME* local, SYSTEMTIME* utc) {
    TIME_ZONE_INFORMATION rules{};
    return RulesForYear(zone, local->wYear, &rules) &&
           TzSpecificLocalTimeToSystemTime(&rules, local, utc);
}

BOOL WINAPI UtcToLocalByYearRules(const DYNAMIC_TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc,
                                  SYSTEMTIME* local) {
    TIME_ZONE_INFORMATION rules{};
    return RulesForYear(zone, utc->wYear, &rules) &&
           SystemTimeToTzSpecificLocalTime(&rules, utc, local);
}

// Windows 8 and later export it from advapi32 (which the library imports anyway); the 32-bit
// MinGW import library does not know it, so it is looked up at run time on both builds.
EnumZonesFunction EnumZones() {
    static const EnumZonesFunction function = [] {
        using Function = std::remove_pointer_t<EnumZonesFunction>;
        const auto fromAdvapi = Advapi32().Symbol<Function>("EnumDynamicTimeZoneInformation");
        return fromAdvapi != nullptr
                   ? fromAdvapi
                   : Kernel32().Symbol<Function>("EnumDynamicTimeZoneInformation");
    }();
    if (function == nullptr) {
        throw MorvaError("%s failed. %s", "Find EnumDynamicTimeZoneInformation",
                         "This version of Windows has no dynamic time zones");
    }
    return function;
}

const ZoneConversions& PreferredZoneConversions() {
    static const ZoneConversions conversions = ResolveZoneConversions();
    return conversions;
}

const ZoneConversions& YearRuleZoneConversions() {
    static const ZoneConversions conversions{&LocalToUtcByYearRules, &UtcToLocalByYearRules, false};
    return conversions;
}

}  // namespace time_detail

struct MTTimeConverter::Zone {
    DYNAMIC_TIME_ZONE_INFORMATION info;
    time_detail::ZoneConversions conversions;
};

namespace {

DYNAMIC_TIME_ZONE_INFORMATION FindZone(const std::u16string& keyName) {
    const time_detail::EnumZonesFunction enumZones = time_detail::EnumZones();
    for (DWORD index = 0;; ++index) {
        DYNAMIC_TIME_ZONE_INFORMATION record{};
        const DWORD result = enumZones(index, &record);
        if (result == ERROR_NO_MORE_ITEMS) {
            throw MorvaError("Could not find \"%ls\" time zone in the system", keyName);
        }
        if (result != ERROR_SUCCESS) {
            continue;  // an entry the system cannot read; the others still count
        }
        const std::size_t length =
            wcsnlen(record.TimeZoneKeyName, sizeof(record.TimeZoneKeyName) / sizeof(WCHAR));
        // Same length and the same characters, letter case included.
        const std::u16string_view name(reinterpret_cast<const char16_t*>(record.TimeZoneKeyName),
                                       length);
        if (name == keyName) {
            return record;
        }
    }
}

SYSTEMTIME ToSystemTime(std::int64_t seconds) {
    const std::uint64_t units = time_detail::FileTimeUnits(seconds);
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(units & 0xFFFFFFFFu);
    fileTime.dwHighDateTime = static_cast<DWORD>(units >> 32);
    SYSTEMTIME time{};
    if (!FileTimeToSystemTime(&fileTime, &time)) {
        ThrowLastError("Convert FileTime to SystemTime");
    }
    return time;
}

std::int64_t ToSeconds(const SYSTEMTIME& time) {
    // Milliseconds dropped.
    return time_detail::SecondsFromCalendar(
        {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond});
}

}  // namespace

MTTimeConverter::MTTimeConverter(std::int32_t offsetMinutes, const std::u16string& zoneKeyName)
    : MTTimeConverter(offsetMinutes, zoneKeyName, time_detail::PreferredZoneConversions()) {}

MTTimeConverter::MTTimeConverter(std::int32_t offsetMinutes, const std::u16string& zoneKeyName,
                                 const time_detail::ZoneConversions& conversions)
    : offsetMinutes_(offsetMinutes),
      zone_(std::make_unique<const Zone>(Zone{FindZone(zoneKeyName), conversions})) {}

MTTimeConverter::~MTTimeConverter() = default;

std::int64_t MTTimeConverter::ServerTimeToUtc(std::int64_t serverTime) const {
    if (serverTime == 0) {
        return 0;
    }
    // The zone's wall clock: the server clock less the offset, plus the zone's standard distance.
    const std::int64_t shift = (static_cast<std::int64_t>(zone_->info.Bias) + offsetMinutes_) * 60;
    const SYSTEMTIME local = ToSystemTime(serverTime - shift);
    SYSTEMTIME utc{};
    if (!zone_->conversions.localToUtc(&zone_->info, &local, &utc)) {
        ThrowLastError("Convert specific time zone to UTC");
    }
    return ToSeconds(utc);
}

std::int64_t MTTimeConverter::UtcToServerTime(std::int64_t utcTime) const {
    if (utcTime == 0) {
        return 0;
    }
    const SYSTEMTIME utc = ToSystemTime(utcTime);
    SYSTEMTIME local{};
    if (!zone_->conversions.utcToLocal(&zone_->info, &utc, &local)) {
        ThrowLastError("Convert UTC to specific time zone");
    }
    const std::int64_t shift = (static_cast<std::int64_t>(zone_->info.Bias) + offsetMinutes_) * 60;
    return ToSeconds(local) + shift;
}

}  // namespace morva
