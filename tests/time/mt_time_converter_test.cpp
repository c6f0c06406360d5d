#include "time/mt_time_converter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "base/morva_error.h"
#include "time_vectors.h"
#include "util/calendar.h"
#include "util/utf.h"

namespace morva {
namespace {

using test::ParseTime;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(MTTimeConverter, AgreesWithTheSharedVectors) {
    test::CheckTimeVectors([](std::int32_t offsetMinutes, const std::u16string& zone) {
        return std::make_unique<MTTimeConverter>(offsetMinutes, zone);
    });
}

TEST(MTTimeConverter, ZeroMeansNoTimeInBothDirections) {
    for (const auto& [offset, zone] : std::vector<std::pair<std::int32_t, std::u16string>>{
             {120, u"FLE Standard Time"}, {-300, u"Eastern Standard Time"}}) {
        const MTTimeConverter converter(offset, zone);
        EXPECT_EQ(converter.ServerTimeToUtc(0), 0);
        EXPECT_EQ(converter.UtcToServerTime(0), 0);
        EXPECT_EQ(converter.offsetMinutes(), offset);
    }
}

TEST(MTTimeConverter, OnlyTheExactKeyNameFindsAZone) {
    // Windows key names only, in their letter case, without blanks.
    for (const std::u16string zone : {u"eastern standard time", u"Eastern Standard Time ",
                                      u"Mars Standard Time", u"", u"Europe/Berlin"}) {
        EXPECT_THAT([&] { MTTimeConverter(120, zone); },
                    ThrowsMessage<MorvaError>(StrEq("Could not find \"" + Utf16ToUtf8(zone) +
                                                    "\" time zone in the system")));
    }
}

TEST(MTTimeConverter, TimesWithoutACalendarFormFail) {
    const MTTimeConverter converter(0, u"UTC");
    constexpr std::int64_t kBefore1601 = -time_detail::kSecondsFrom1601To1970 - 1;
    constexpr std::int64_t kPast30827 = 1'000'000'000'000;  // year 33658
    const auto failed =
        ThrowsMessage<MorvaError>(StartsWith("Convert FileTime to SystemTime failed. "));
    for (const std::int64_t time : {kBefore1601, kPast30827}) {
        EXPECT_THAT([&] { converter.UtcToServerTime(time); }, failed) << time;
        EXPECT_THAT([&] { converter.ServerTimeToUtc(time); }, failed) << time;
    }
}

TEST(MTTimeConverter, ServesManyThreadsAtOnce) {
    const MTTimeConverter converter(120, u"FLE Standard Time");
    const std::int64_t winter = ParseTime("2025-01-15 12:00:00");
    const std::int64_t summer = ParseTime("2025-07-15 12:00:00");
    std::vector<std::future<bool>> workers;
    for (int i = 0; i < 4; ++i) {
        workers.push_back(std::async(std::launch::async, [&] {
            bool same = true;
            for (int n = 0; n < 200; ++n) {
                same = same && converter.ServerTimeToUtc(winter) == winter - 7200 &&
                       converter.UtcToServerTime(summer - 10800) == summer;
            }
            return same;
        }));
    }
    for (auto& worker : workers) {
        EXPECT_TRUE(worker.get());
    }
}

}  // namespace
}  // namespace morva
