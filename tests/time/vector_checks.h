#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "time/time_converter.h"
#include "time_vectors.h"
#include "util/calendar.h"
#include "util/utf.h"

namespace morva::test {

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

inline std::string FormatTime(std::int64_t seconds) {
    const auto time = time_detail::CalendarFromFileTimeUnits(time_detail::FileTimeUnits(seconds));
    if (!time) {
        return "<out of range>";
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%04lld-%02u-%02u %02u:%02u:%02u",
                  static_cast<long long>(time->year), time->month, time->day, time->hour,
                  time->minute, time->second);
    return text;
}

using ConverterFactory = std::function<std::unique_ptr<TimeConverter>(std::int32_t offsetMinutes,
                                                                      const std::u16string&)>;

// Runs every vector through converters made by `make`, one per zone and offset.
inline void CheckTimeVectors(const ConverterFactory& make) {
    std::map<std::pair<std::u16string, std::int32_t>, std::unique_ptr<TimeConverter>> converters;
    for (const TimeVector& vector : kTimeVectors) {
        const std::u16string zone = vector.zone;
        auto& converter = converters[{zone, vector.offsetMinutes}];
        if (converter == nullptr) {
            converter = make(vector.offsetMinutes, zone);
        }
        SCOPED_TRACE(Utf16ToUtf8(zone) + " " + std::to_string(vector.offsetMinutes) + ": server " +
                     vector.server + ", UTC " + vector.utc + " (" + vector.note + ")");
        const std::int64_t server = ParseTime(vector.server);
        const std::int64_t utc = ParseTime(vector.utc);
        if (vector.direction != VectorDirection::UtcToServer) {
            EXPECT_EQ(FormatTime(converter->ServerTimeToUtc(server)), vector.utc)
                << "server time to UTC";
        }
        if (vector.direction != VectorDirection::ServerToUtc) {
            EXPECT_EQ(FormatTime(converter->UtcToServerTime(utc)), vector.server)
                << "UTC to server time";
        }
    }
}

}  // namespace morva::test
