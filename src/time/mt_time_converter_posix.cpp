// MTTimeConverter without Windows: the Windows key name is mapped to a zone with ICU's own
// Windows-zone mapping and the rules come from ICU. The steps and the failures follow the Windows
// build one for one, with these stand-ins for the system's operations:
//   FileTimeToSystemTime               time_detail::CalendarFromFileTimeUnits (same range)
//   TzSpecificLocalTimeToSystemTimeEx  BasicTimeZone::getOffsetFromLocal, a skipped or repeated
//                                      wall-clock time read as daylight time, as Windows does
//   SystemTimeToTzSpecificLocalTimeEx  TimeZone::getOffset
//   Bias                               minus the zone's current raw offset (like the Bias of the
//                                      record the system enumerates: today's standard offset)

#include <unicode/basictz.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/last_error.h"
#include "base/morva_error.h"
#include "time/mt_time_converter.h"
#include "util/calendar.h"

namespace morva {

struct MTTimeConverter::Zone {
    std::unique_ptr<const icu::BasicTimeZone> rules;
    std::int32_t biasMinutes;  // UTC = standard time + bias, as Windows counts it
};

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

std::unique_ptr<const icu::BasicTimeZone> FindZone(const std::u16string& keyName) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString zoneId;
    // ICU's mapping compares the key name exactly, letter case included, as the system does.
    icu::TimeZone::getIDForWindowsID(
        icu::UnicodeString(keyName.data(), static_cast<std::int32_t>(keyName.size())), nullptr,
        zoneId, status);
    if (U_SUCCESS(status) && !zoneId.isEmpty()) {
        std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(zoneId));
        if (zone != nullptr && zone->getID(zoneId) != icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID)) {
            // Every zone ICU builds from its data is a BasicTimeZone.
            if (auto* basic = dynamic_cast<icu::BasicTimeZone*>(zone.get()); basic != nullptr) {
                zone.release();
                return std::unique_ptr<const icu::BasicTimeZone>(basic);
            }
        }
    }
    throw MorvaError("Could not find \"%ls\" time zone in the system", keyName);
}

// FileTimeToSystemTime's range and truncation, then the calendar read back as seconds; the
// failure is reported through errno like a failed system call on this platform.
std::optional<std::int64_t> RoundTripCalendar(std::int64_t seconds) {
    const auto calendar =
        time_detail::CalendarFromFileTimeUnits(time_detail::FileTimeUnits(seconds));
    if (!calendar) {
        return std::nullopt;
    }
    return time_detail::SecondsFromCalendar(*calendar);
}

std::int64_t CalendarOrThrow(std::int64_t seconds, const char* operation) {
    const std::optional<std::int64_t> result = RoundTripCalendar(seconds);
    if (!result) {
        errno = EOVERFLOW;
        ThrowLastError(operation);
    }
    return *result;
}

void CheckIcu(UErrorCode status, const char* operation) {
    if (U_FAILURE(status)) {
        ThrowCode(operation, u_errorName(status), static_cast<long>(status));
    }
}

std::int64_t WholeSeconds(std::int32_t milliseconds) {
    return static_cast<std::int64_t>(std::floor(milliseconds / kMillisecondsPerSecond));
}

}  // namespace

MTTimeConverter::MTTimeConverter(std::int32_t offsetMinutes, const std::u16string& zoneKeyName)
    : offsetMinutes_(offsetMinutes), zone_([&] {
          auto rules = FindZone(zoneKeyName);
          const std::int32_t rawOffset = rules->getRawOffset();  // milliseconds, east positive
          return std::make_unique<const Zone>(
              Zone{std::move(rules), static_cast<std::int32_t>(-rawOffset / 60'000)});
      }()) {}

MTTimeConverter::~MTTimeConverter() = default;

std::int64_t MTTimeConverter::ServerTimeToUtc(std::int64_t serverTime) const {
    if (serverTime == 0) {
        return 0;
    }
    constexpr const char* kOperation = "Convert specific time zone to UTC";
    const std::int64_t shift =
        (static_cast<std::int64_t>(zone_->biasMinutes) + offsetMinutes_) * 60;
    const std::int64_t local =
        CalendarOrThrow(serverTime - shift, "Convert FileTime to SystemTime");

    UErrorCode status = U_ZERO_ERROR;
    std::int32_t rawOffset = 0;
    std::int32_t dstOffset = 0;
    zone_->rules->getOffsetFromLocal(static_cast<double>(local) * kMillisecondsPerSecond,
                                     UCAL_TZ_LOCAL_DAYLIGHT_FORMER, UCAL_TZ_LOCAL_DAYLIGHT_FORMER,
                                     rawOffset, dstOffset, status);
    CheckIcu(status, kOperation);
    const std::optional<std::int64_t> utc =
        RoundTripCalendar(local - WholeSeconds(rawOffset + dstOffset));
    if (!utc) {
        errno = EOVERFLOW;
        ThrowLastError(kOperation);
    }
    return *utc;
}

std::int64_t MTTimeConverter::UtcToServerTime(std::int64_t utcTime) const {
    if (utcTime == 0) {
        return 0;
    }
    constexpr const char* kOperation = "Convert UTC to specific time zone";
    const std::int64_t utc = CalendarOrThrow(utcTime, "Convert FileTime to SystemTime");

    UErrorCode status = U_ZERO_ERROR;
    std::int32_t rawOffset = 0;
    std::int32_t dstOffset = 0;
    zone_->rules->getOffset(static_cast<double>(utc) * kMillisecondsPerSecond, false, rawOffset,
                            dstOffset, status);
    CheckIcu(status, kOperation);
    const std::optional<std::int64_t> local =
        RoundTripCalendar(utc + WholeSeconds(rawOffset + dstOffset));
    if (!local) {
        errno = EOVERFLOW;
        ThrowLastError(kOperation);
    }
    const std::int64_t shift =
        (static_cast<std::int64_t>(zone_->biasMinutes) + offsetMinutes_) * 60;
    return *local + shift;
}

}  // namespace morva
