#include "host/execute_dll.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <stdexcept>
#include <string>

#include "base/log.h"
#include "support/captured_log.h"

namespace {

using ::testing::HasSubstr;

// An error buffer as the indicator passes it, pre-filled with a stale text.
struct ErrorBuffer {
    char16_t units[morva::kTerminalTextSize + 8] = u"stale text from an earlier call";
    ErrorBuffer() {
        std::fill(std::begin(units) + morva::kTerminalTextSize, std::end(units), u'#');
    }
    std::u16string Text() const { return units; }
    bool GuardIntact() const {
        return std::all_of(std::begin(units) + morva::kTerminalTextSize, std::end(units),
                           [](char16_t c) { return c == u'#'; });
    }
};

// A result passed through, a stale buffer cleared, a standard exception's text in UTF-16 and a
// missing buffer on success: every export call of the end-to-end runs.
TEST(ExecuteDll, AThrowOfAnythingElseBecomesMinusOneAndATextEvenWithoutABuffer) {
    const auto body = []() -> std::int32_t { throw 42; };
    ErrorBuffer error;
    EXPECT_EQ(ExecuteDll(error.units, body, "OrderBook_Sz(%d)", 7), -1);
    EXPECT_EQ(error.Text(), u"Unknown error");
    EXPECT_EQ(ExecuteDll(nullptr, body, "x"), -1);
}

TEST(ExecuteDll, ErrorTextIsUtf16CutAt179AndNeverOverrunsTheBuffer) {
    ErrorBuffer error;
    const std::string long300(300, 'e');
    ExecuteDll(
        error.units, [&] { throw std::runtime_error(long300); }, "x");
    EXPECT_EQ(error.Text(), std::u16string(179, u'e'));
    EXPECT_TRUE(error.GuardIntact());

    // 178 letters and then an astral character: its pair would straddle the cut, so it goes.
    const std::string straddling = std::string(178, 'a') + "\xf0\x9f\x98\x80" + "tail";
    ExecuteDll(
        error.units, [&] { throw std::runtime_error(straddling); }, "x");
    EXPECT_EQ(error.Text(), std::u16string(178, u'a'));
}

// Every call traced at DEBUG; only a failure is logged above it, at ERROR under the call's name.
TEST(ExecuteDll, CallsAreTracedAtDebugAndFailuresLoggedAtError) {
    const morva::test::CapturedLog log(spdlog::level::debug);
    ErrorBuffer error;
    ExecuteDll(
        error.units, [] { return std::int32_t{5}; }, "OrderBook_Sz(%d)", 3);
    ExecuteDll(
        error.units, [] { throw 1; }, "InitCreds");
    // std::regex rather than gtest's, whose syntax differs between the platforms.
    const std::regex trace(R"(debug\|Executing OrderBook_Sz\(3\)\n)"
                           R"(debug\|Executed OrderBook_Sz\(3\) = 5 in [0-9]+\.[0-9]{6}s\n)"
                           R"(debug\|Executing InitCreds\n)"
                           R"(error\|InitCreds failed: Unknown error\n)"
                           R"(debug\|Executed InitCreds = -1 in [0-9]+\.[0-9]{6}s\n)");
    EXPECT_TRUE(std::regex_match(log.Messages(), trace)) << log.Messages();
}

TEST(ExecuteDll, CallTextIsCutAt127AndEmptyWhenItCannotBeFormatted) {
    const morva::test::CapturedLog log(spdlog::level::info);
    ErrorBuffer error;
    const std::u16string longInstrument(200, u'I');
    ExecuteDll(
        error.units, [] { throw std::runtime_error("x"); }, "OrderBook(%ls, %d)", longInstrument,
        0);
    const std::string expectedCall = ("OrderBook(" + std::string(200, 'I')).substr(0, 127);
    EXPECT_THAT(log.Messages(), HasSubstr("error|" + expectedCall + " failed: x\n"));

    ExecuteDll(
        error.units, [] { throw std::runtime_error("w"); }, "CheckPremium(%ls)", u"\u0416");
    EXPECT_THAT(log.Messages(), HasSubstr("error|CheckPremium(\xD0\x96) failed: w\n"));
    ExecuteDll(
        error.units, [] { throw std::runtime_error("y"); }, "CheckPremium(%d)", u"\u0416");
    EXPECT_THAT(log.Messages(), HasSubstr("error| failed: y\n"));
    EXPECT_EQ(error.Text(), u"y") << "the export itself is unaffected";
}

}  // namespace
