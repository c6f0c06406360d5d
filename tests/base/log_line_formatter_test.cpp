#include "base/log_line_formatter.h"

#include <gtest/gtest.h>
#include <spdlog/details/log_msg.h>

#include <chrono>
#include <string>
#include <string_view>

namespace morva::log {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

spdlog::log_clock::time_point At(sys_days day, nanoseconds sinceMidnight) {
    return time_point_cast<spdlog::log_clock::duration>(day + sinceMidnight);
}

const spdlog::log_clock::time_point kTime = At(2026y / 12 / 6, 10h + 18min + 54s + 123ms);

spdlog::details::log_msg Record(spdlog::log_clock::time_point time, spdlog::level::level_enum level,
                                const char* function, int line, std::string_view text) {
    spdlog::details::log_msg msg(time, spdlog::source_loc{"module.cpp", line, function}, "morva",
                                 level, spdlog::string_view_t(text.data(), text.size()));
    msg.thread_id = 4242;
    return msg;
}

std::string Format(spdlog::formatter& formatter, const spdlog::details::log_msg& msg) {
    spdlog::memory_buf_t buffer;
    formatter.format(msg, buffer);
    return std::string(buffer.data(), buffer.size());
}

std::string Stamp(LogLineFormatter& formatter, spdlog::log_clock::time_point time) {
    return Format(formatter, Record(time, spdlog::level::info, "F", 1, "x")).substr(0, 23);
}

TEST(LogLineFormatter, WritesTheWholeLineEndingInTheGivenLineEnd) {
    LogLineFormatter formatter("\r\n");
    EXPECT_EQ(Format(formatter, Record(kTime, spdlog::level::info, "morva::Module::InitCreds", 123,
                                       "Authorized {} 100%")),
              "2026-12-06 10:18:54.123 INFO  [4242] [morva::Module::InitCreds@123] "
              "Authorized {} 100%\r\n");
    const auto copy = LogLineFormatter("\n").clone();
    EXPECT_EQ(Format(*copy, Record(kTime, spdlog::level::warn, "LoadDll", 7, "text")),
              "2026-12-06 10:18:54.123 WARN  [4242] [LoadDll@7] text\n");

    // spdlog's own records carry no source.
    spdlog::details::log_msg bare(kTime, spdlog::source_loc{}, "morva", spdlog::level::info, "m");
    bare.thread_id = 1;
    EXPECT_EQ(Format(*copy, bare).substr(24), "INFO  [1] [@0] m\n");
}

// An account text or a server's message with a line break must not start a record of its own.
TEST(LogLineFormatter, ControlCharactersInTheMessageAreEscaped) {
    constexpr char kText[] = "a\r\nX-Injected: yes\t\x1b[31m\x7f\0 C:\\Users\xc3\xa9";
    LogLineFormatter formatter("\n");
    EXPECT_EQ(Format(formatter, Record(kTime, spdlog::level::err, "F", 1,
                                       std::string_view(kText, sizeof kText - 1))),
              "2026-12-06 10:18:54.123 ERROR [4242] [F@1] "
              "a\\r\\nX-Injected: yes\\t\\x1b[31m\\x7f\\x00 C:\\Users\xc3\xa9\n");
}

// Zero-padded UTC, milliseconds truncated, following records across seconds and back.
TEST(LogLineFormatter, StampsEachRecordWithItsOwnTime) {
    LogLineFormatter formatter("\n");
    const auto lastMoment = At(2025y / 12 / 31, 23h + 59min + 59s + 999ms);
    EXPECT_EQ(Stamp(formatter, At(2001y / 2 / 3, 4h + 5min + 6s + 7999us)),
              "2001-02-03 04:05:06.007");
    EXPECT_EQ(Stamp(formatter, lastMoment), "2025-12-31 23:59:59.999");
    EXPECT_EQ(Stamp(formatter, lastMoment - 998ms), "2025-12-31 23:59:59.001");
    EXPECT_EQ(Stamp(formatter, lastMoment + 1ms), "2026-01-01 00:00:00.000");
    EXPECT_EQ(Stamp(formatter, lastMoment), "2025-12-31 23:59:59.999");
    EXPECT_EQ(Stamp(formatter, lastMoment + 1ms + 24h), "2026-01-02 00:00:00.000");
}

TEST(LogLineFormatter, NamesEverySeverityPaddedToFive) {
    struct Case {
        spdlog::level::level_enum level;
        std::string_view expected;
    };
    const Case cases[] = {
        {spdlog::level::critical, "FATAL ["}, {spdlog::level::err, "ERROR ["},
        {spdlog::level::warn, "WARN  ["},     {spdlog::level::info, "INFO  ["},
        {spdlog::level::debug, "DEBUG ["},    {spdlog::level::trace, "VERB  ["},
        {spdlog::level::off, "NONE  ["},
    };
    LogLineFormatter formatter("\n");
    for (const Case& c : cases) {
        const std::string line = Format(formatter, Record(kTime, c.level, "F", 1, "x"));
        EXPECT_EQ(line.substr(23, 8), " " + std::string(c.expected)) << line;
    }
}

}  // namespace
}  // namespace morva::log
