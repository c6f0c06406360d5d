// Tests of the log's output: LogLineFormatter (the line format), RollingFileSink (the log file)
// and ConsoleSink (standard output).
#include <gtest/gtest.h>
#include <spdlog/details/log_msg.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#endif

#include "base/console_sink.h"
#include "base/log_line_formatter.h"
#include "base/rolling_file_sink.h"
#include "support/files.h"

namespace morva::log {
namespace {

namespace fs = std::filesystem;
using test::FileNames;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;
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

// LogLineFormatter (base/log_line_formatter.h)

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

// RollingFileSink (base/rolling_file_sink.h)

// The log file: lines as LogLineFormatter writes them.
const std::string kBom = "\xEF\xBB\xBF";

// The line the sink writes for Log(sink, text).
std::string Line(std::string_view text) {
    return "2026-12-06 10:18:54.123 INFO  [4242] [F@1] " + std::string(text) + "\r\n";
}

void Log(RollingFileSink& sink, std::string_view text) {
    sink.log(Record(kTime, spdlog::level::info, "F", 1, text));
}

class RollingFileSinkTest : public ::testing::Test {
  protected:
    fs::path File(std::string_view name) const { return folder_.path() / name; }
    fs::path Current() const { return File("MORVA_Orderbook.log"); }

    TempFolder folder_;
};

// A new or empty file gets one byte order mark; an earlier process's file is appended to without
// a second.
TEST_F(RollingFileSinkTest, OnlyANewOrEmptyFileStartsWithAByteOrderMark) {
    {
        RollingFileSink earlierProcess(Current(), 1'048'576, 10);
        Log(earlierProcess, "earlier");
    }
    RollingFileSink sink(Current(), 1'048'576, 10);
    Log(sink, "later");
    EXPECT_EQ(ReadFile(Current()), kBom + Line("earlier") + Line("later"));

    WriteFile(File("empty.log"), "");
    RollingFileSink empty(File("empty.log"), 1'048'576, 10);
    Log(empty, "appended");
    EXPECT_EQ(ReadFile(File("empty.log")), kBom + Line("appended"));
}

TEST_F(RollingFileSinkTest, UnwritableFileLosesTheRecordAndTheNextOneTriesAgain) {
    const fs::path path = File("missing") / "MORVA_Orderbook.log";
    RollingFileSink sink(path, 1'048'576, 10);
    EXPECT_NO_THROW(Log(sink, "lost"));
    EXPECT_FALSE(fs::exists(path));

    fs::create_directory(File("missing"));
    Log(sink, "kept");
    EXPECT_EQ(ReadFile(path), kBom + Line("kept"));
}

TEST_F(RollingFileSinkTest, RollsOnTheRecordAfterTheFileGrowsBeyondMaxSize) {
    // Exactly at the limit after two records: not beyond it yet.
    const std::uintmax_t maxSize = kBom.size() + Line("one").size() + Line("two").size();
    RollingFileSink sink(Current(), maxSize, 10);
    Log(sink, "one");
    Log(sink, "two");
    Log(sink, "three");
    EXPECT_EQ(FileNames(folder_.path()), std::set<std::string>{"MORVA_Orderbook.log"});
    EXPECT_EQ(ReadFile(Current()), kBom + Line("one") + Line("two") + Line("three"));

    Log(sink, "four");
    EXPECT_EQ(ReadFile(File("MORVA_Orderbook.1.log")),
              kBom + Line("one") + Line("two") + Line("three"));
    EXPECT_EQ(ReadFile(Current()), kBom + Line("four"));
}

TEST_F(RollingFileSinkTest, KeepsAtMostMaxFilesAndDropsTheOldest) {
    RollingFileSink sink(Current(), 1, 3);
    for (int i = 1; i <= 6; ++i) {
        Log(sink, "record " + std::to_string(i));
    }
    EXPECT_EQ(FileNames(folder_.path()),
              (std::set<std::string>{"MORVA_Orderbook.log", "MORVA_Orderbook.1.log",
                                     "MORVA_Orderbook.2.log"}));
    EXPECT_EQ(ReadFile(Current()), kBom + Line("record 6"));
    EXPECT_EQ(ReadFile(File("MORVA_Orderbook.2.log")), kBom + Line("record 4"));

    // One file in all starts afresh.
    RollingFileSink single(File("single.log"), 1, 1);
    Log(single, "old");
    Log(single, "new");
    EXPECT_EQ(ReadFile(File("single.log")), kBom + Line("new"));
    EXPECT_FALSE(fs::exists(File("single.1.log")));
}

TEST_F(RollingFileSinkTest, OversizedFileFromEarlierRunRollsBeforeTheFirstRecord) {
    const std::string earlier = kBom + std::string(200, 'x') + "\r\n";
    WriteFile(Current(), earlier);
    RollingFileSink sink(Current(), 100, 10);
    Log(sink, "first");
    EXPECT_EQ(ReadFile(File("MORVA_Orderbook.1.log")), earlier);
    EXPECT_EQ(ReadFile(Current()), kBom + Line("first"));
}

// Another copy of the library (a new version loaded beside the pinned old one) logs into the
// same file: whoever rolls, the other's open file must not stop it.
TEST_F(RollingFileSinkTest, AnotherWriterKeepingTheFileOpenDoesNotStopTheRoll) {
    RollingFileSink other(Current(), 1'048'576, 10);
    Log(other, "other");
    RollingFileSink sink(Current(), 1, 10);
    Log(sink, "one");
    Log(sink, "two");
    EXPECT_EQ(ReadFile(File("MORVA_Orderbook.2.log")), kBom + Line("other"));
    EXPECT_EQ(ReadFile(File("MORVA_Orderbook.1.log")), kBom + Line("one"));
    EXPECT_EQ(ReadFile(Current()), kBom + Line("two"));
}

#ifdef _WIN32
// A log viewer that opened the file without delete sharing blocks every roll: the file must stay
// bounded, and rolling resumes once the viewer lets go.
TEST_F(RollingFileSinkTest, ABlockedRollKeepsTheFileBoundedAndResumesLater) {
    RollingFileSink sink(Current(), 1000, 10);
    Log(sink, "first");
    HANDLE viewer = CreateFileW(Current().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 1000; ++i) {
        Log(sink, "record " + std::to_string(i));
    }
    EXPECT_FALSE(fs::exists(File("MORVA_Orderbook.1.log")));
    EXPECT_LE(fs::file_size(Current()), 2000u + Line("record 999").size());

    CloseHandle(viewer);
    for (int i = 0; i < 100; ++i) {
        Log(sink, "later " + std::to_string(i));
    }
    EXPECT_TRUE(fs::exists(File("MORVA_Orderbook.1.log")));
    EXPECT_LE(fs::file_size(Current()), 2000u);
}
#endif

TEST_F(RollingFileSinkTest, LinesFromManyThreadsStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kRecords = 50;
    RollingFileSink sink(Current(), 1000, 100);
    const auto text = [](int t, int i) {
        return "thread " + std::to_string(t) + " record " + std::to_string(i);
    };
    std::multiset<std::string> expected;
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kRecords; ++i) {
            expected.insert(Line(text(t, i)));
        }
        threads.emplace_back([&sink, &text, t] {
            for (int i = 0; i < kRecords; ++i) {
                Log(sink, text(t, i));
            }
        });
    }
    threads.clear();  // joins them

    std::multiset<std::string> written;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_.path())) {
        const std::string content = ReadFile(entry.path());
        ASSERT_EQ(content.substr(0, 3), kBom) << entry.path();
        std::istringstream lines(content.substr(3));
        for (std::string line; std::getline(lines, line);) {
            written.insert(line + "\n");
        }
    }
    EXPECT_EQ(written, expected);
    EXPECT_GT(FileNames(folder_.path()).size(), 1U);
}

#ifndef _WIN32
// ConsoleSink (base/console_sink.h)

// Standard output, where a host that asks for it gets the same lines.
// Standard output pointed at a fresh pipe for the test's length (never a terminal).
class PipedStdout : public ::testing::Test {
  protected:
    void SetUp() override {
        std::fflush(stdout);
        ASSERT_EQ(pipe(ends_.data()), 0);
        saved_ = dup(STDOUT_FILENO);
        ASSERT_GE(saved_, 0);
        ASSERT_EQ(dup2(ends_[1], STDOUT_FILENO), STDOUT_FILENO);
        close(ends_[1]);
    }
    void TearDown() override {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        if (ends_[0] >= 0) {
            close(ends_[0]);
        }
        unsetenv("MORVA_LOG_STDOUT");
    }

    static void Log(ConsoleSink& sink) {
        sink.log(Record(kTime, spdlog::level::info, "F", 1, "text"));
    }
    // What reached the pipe so far: a line at most.
    std::string Drain() {
        fcntl(ends_[0], F_SETFL, O_NONBLOCK);
        std::array<char, 4096> chunk{};
        const ssize_t n = read(ends_[0], chunk.data(), chunk.size());
        return std::string(chunk.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    }

    std::array<int, 2> ends_{-1, -1};
    int saved_ = -1;
};

TEST_F(PipedStdout, AHostsPipeGetsNoLinesUnlessAsked) {
    unsetenv("MORVA_LOG_STDOUT");
    ConsoleSink quiet;
    Log(quiet);
    EXPECT_EQ(Drain(), "");

    setenv("MORVA_LOG_STDOUT", "1", 1);
    ConsoleSink asked;
    Log(asked);
    EXPECT_NE(Drain().find("] [F@1] text\n"), std::string::npos);
}

// A closed pipe would raise SIGPIPE and end the whole host; a full one would hold the caller.
TEST_F(PipedStdout, AClosedOrFullPipeNeitherKillsNorBlocks) {
    setenv("MORVA_LOG_STDOUT", "1", 1);
    ConsoleSink sink;

    // Filled to the brim through a non-blocking write, then blocking again, as a host's pipe is.
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK);
    const std::string block(4096, 'x');
    while (write(STDOUT_FILENO, block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);
    fcntl(STDOUT_FILENO, F_SETFL, flags);
    Log(sink);  // returns: the line is dropped

    close(ends_[0]);
    ends_[0] = -1;
    Log(sink);  // the test process survives
    sigset_t pending;
    sigemptyset(&pending);
    ASSERT_EQ(sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}
#endif

}  // namespace
}  // namespace morva::log
