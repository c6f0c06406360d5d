#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "time/time_converter.h"
#include "util/calendar.h"
#include "util/utf.h"

// Server time <-> UTC vectors shared by the Windows and the ICU builds of MTTimeConverter.
//
// Where the expected values come from: every row was produced by running the Windows build of
// MTTimeConverter (Wine 8.0, Debian 8.0~repack-4, whose kernel32 lacks the ...Ex conversions, so
// through GetTimeZoneInformationForYear and the non-Ex conversions over Wine's time-zone
// registry) once, printing each row as the converter answered it (that generator is in the
// history: `git log -S PrintVectors`).
// The ICU build must give the same answers; where a zone's switch leaves a server time skipped
// or repeated, the system's own resolution decided (Wine: a wall-clock time in the skipped or
// the repeated hour is read as daylight time).

namespace morva::test {

enum class VectorDirection {
    ServerToUtc,  // ServerTimeToUtc(server) == utc
    UtcToServer,  // UtcToServerTime(utc) == server
    Both,
};

struct TimeVector {
    const char16_t* zone;  // Windows time-zone key name
    std::int32_t offsetMinutes;
    VectorDirection direction;
    const char* server;  // "YYYY-MM-DD hh:mm:ss" in the server's clock
    const char* utc;     // the same instant in UTC
    const char* note;
};

// clang-format off
inline constexpr TimeVector kTimeVectors[] = {
    {u"FLE Standard Time", 120, VectorDirection::Both, "2025-01-15 12:00:00", "2025-01-15 10:00:00", "winter"},
    {u"FLE Standard Time", 120, VectorDirection::Both, "2025-07-15 12:00:00", "2025-07-15 09:00:00", "summer"},
    {u"FLE Standard Time", 120, VectorDirection::Both, "2025-03-30 02:59:59", "2025-03-30 00:59:59", "last second before the spring switch"},
    {u"FLE Standard Time", 120, VectorDirection::ServerToUtc, "2025-03-30 03:00:00", "2025-03-30 00:00:00", "skipped server time"},
    {u"FLE Standard Time", 120, VectorDirection::Both, "2025-03-30 04:00:00", "2025-03-30 01:00:00", "first summer second"},
    {u"FLE Standard Time", 120, VectorDirection::Both, "2025-10-26 02:59:59", "2025-10-25 23:59:59", "before the repeated hour"},
    {u"FLE Standard Time", 120, VectorDirection::ServerToUtc, "2025-10-26 03:00:00", "2025-10-26 00:00:00", "repeated server time"},
    {u"FLE Standard Time", 120, VectorDirection::UtcToServer, "2025-10-26 03:30:00", "2025-10-26 00:30:00", "first pass through the repeated hour"},
    {u"FLE Standard Time", 120, VectorDirection::UtcToServer, "2025-10-26 03:59:59", "2025-10-26 00:59:59", "last summer second"},
    {u"FLE Standard Time", 120, VectorDirection::UtcToServer, "2025-10-26 03:00:00", "2025-10-26 01:00:00", "first winter second"},
    {u"FLE Standard Time", 120, VectorDirection::UtcToServer, "2025-10-26 03:30:00", "2025-10-26 01:30:00", "second pass through the repeated hour"},
    {u"FLE Standard Time", 120, VectorDirection::Both, "2025-10-26 04:00:00", "2025-10-26 02:00:00", "after the repeated hour"},
    {u"FLE Standard Time", 0, VectorDirection::Both, "2025-01-15 12:00:00", "2025-01-15 12:00:00", "offset 0: UTC in winter"},
    {u"FLE Standard Time", 0, VectorDirection::Both, "2025-07-15 12:00:00", "2025-07-15 11:00:00", "offset 0: UTC + 1 h in summer"},
    {u"Eastern Standard Time", 120, VectorDirection::Both, "2025-03-20 12:00:00", "2025-03-20 09:00:00", "US summer time, Europe still in winter"},
    {u"Eastern Standard Time", -300, VectorDirection::Both, "2006-03-20 12:00:00", "2006-03-20 17:00:00", "2006 rules: still winter"},
    {u"Eastern Standard Time", -300, VectorDirection::Both, "2007-03-20 12:00:00", "2007-03-20 16:00:00", "2007 rules: already summer"},
    {u"AUS Eastern Standard Time", 600, VectorDirection::Both, "2025-01-15 12:00:00", "2025-01-15 01:00:00", "summer in January"},
    {u"AUS Eastern Standard Time", 600, VectorDirection::ServerToUtc, "2025-10-05 02:30:00", "2025-10-04 15:30:00", "skipped server time"},
    {u"AUS Eastern Standard Time", 120, VectorDirection::Both, "2025-01-01 00:30:00", "2024-12-31 21:30:00", "offset 120, across the new year"},
    {u"Tokyo Standard Time", 180, VectorDirection::Both, "2025-07-15 12:00:00", "2025-07-15 09:00:00", "no daylight saving"},
    {u"UTC", 0, VectorDirection::Both, "2025-07-15 12:00:00", "2025-07-15 12:00:00", "UTC server"},
    {u"UTC", 120, VectorDirection::Both, "1965-06-01 12:00:00", "1965-06-01 10:00:00", "before 1970"},
};
// clang-format on

// "YYYY-MM-DD hh:mm:ss", read as UTC, in seconds since 1970.
inline std::int64_t ParseTime(std::string_view text) {
    time_detail::CalendarTime time;
    int year = 0;
    if (std::sscanf(std::string(text).c_str(), "%d-%u-%u %u:%u:%u", &year, &time.month, &time.day,
                    &time.hour, &time.minute, &time.second) != 6) {
        ADD_FAILURE() << "not a time: " << text;
        return 0;
    }
    time.year = year;
    return time_detail::SecondsFromCalendar(time);
}

using ConverterFactory = std::function<std::unique_ptr<TimeConverter>(std::int32_t offsetMinutes,
                                                                      const std::u16string&)>;

// Runs every vector through a converter made by `make`.
inline void CheckTimeVectors(const ConverterFactory& make) {
    for (const TimeVector& vector : kTimeVectors) {
        const std::u16string zone = vector.zone;
        const std::unique_ptr<TimeConverter> converter = make(vector.offsetMinutes, zone);
        SCOPED_TRACE(Utf16ToUtf8(zone) + " " + std::to_string(vector.offsetMinutes) + ": server " +
                     vector.server + ", UTC " + vector.utc + " (" + vector.note + ")");
        const std::int64_t server = ParseTime(vector.server);
        const std::int64_t utc = ParseTime(vector.utc);
        if (vector.direction != VectorDirection::UtcToServer) {
            EXPECT_EQ(converter->ServerTimeToUtc(server), utc) << "server time to UTC";
        }
        if (vector.direction != VectorDirection::ServerToUtc) {
            EXPECT_EQ(converter->UtcToServerTime(utc), server) << "UTC to server time";
        }
    }
}

}  // namespace morva::test
