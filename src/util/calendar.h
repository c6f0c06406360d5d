#pragma once

#include <cstdint>
#include <optional>

namespace morva::time_detail {

// The calendar form of an instant (a SYSTEMTIME without weekday and milliseconds).
struct CalendarTime {
    std::int64_t year = 1970;
    unsigned month = 1;  // 1..12
    unsigned day = 1;    // 1..31
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
};

inline constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
inline constexpr std::uint64_t kFileTimeUnitsPerSecond = 10'000'000;

// A count of seconds since 1970 as a FILETIME count (100-nanosecond units since 1601):
// (seconds + 11644473600) * 10^7 in 64 bits. Unsigned, so that a count beyond the range wraps
// the same way in every build instead of being undefined.
constexpr std::uint64_t FileTimeUnits(std::int64_t seconds) {
    return (static_cast<std::uint64_t>(seconds) +
            static_cast<std::uint64_t>(kSecondsFrom1601To1970)) *
           kFileTimeUnitsPerSecond;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
constexpr std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<std::int64_t>(year - era * 400);     // [0, 399]
    const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;    // March is 0
    const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;  // [0, 365]
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The calendar read as UTC, in seconds since 1970. Every date a SYSTEMTIME can hold (years 1601
// to 30827) has a value here, so no conversion ends in -1 for an unrepresentable date.
constexpr std::int64_t SecondsFromCalendar(const CalendarTime& time) {
    return DaysFromCivil(time.year, time.month, time.day) * 86'400 +
           static_cast<std::int64_t>(time.hour) * 3'600 +
           static_cast<std::int64_t>(time.minute) * 60 + time.second;
}

// The UTC calendar form of a count of seconds since 1970, before 1970 too (H. Hinnant's
// civil_from_days).
constexpr CalendarTime CalendarFromSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86'400;
    std::int64_t secondOfDay = seconds % 86'400;
    if (secondOfDay < 0) {
        secondOfDay += 86'400;
        --days;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    CalendarTime time;
    time.day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    time.month = static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    time.year = yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0);
    time.hour = static_cast<unsigned>(secondOfDay / 3'600);
    time.minute = static_cast<unsigned>(secondOfDay % 3'600 / 60);
    time.second = static_cast<unsigned>(secondOfDay % 60);
    return time;
}

// FileTimeToSystemTime's contract for builds without Windows: a count with the top bit set has
// no calendar form (nullopt); any other count gives the UTC calendar time, sub-seconds dropped.
constexpr std::optional<CalendarTime> CalendarFromFileTimeUnits(std::uint64_t units) {
    if (units > static_cast<std::uint64_t>(INT64_MAX)) {
        return std::nullopt;
    }
    return CalendarFromSeconds(static_cast<std::int64_t>(units / kFileTimeUnitsPerSecond) -
                               kSecondsFrom1601To1970);
}

}  // namespace morva::time_detail
