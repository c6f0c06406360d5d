#include "options.h"

#include <gtest/gtest.h>

namespace {

TEST(Options, DefaultsDescribeALiveMt5TerminalWatchingEurUsd) {
    const Options options = ParseOptions({"lib.so"});
    EXPECT_EQ(options.library, "lib.so");
    EXPECT_EQ(options.server, "MORVA-Live-3");
    EXPECT_EQ(options.platform, "mt5");
    EXPECT_EQ(options.instruments, std::vector<std::string>{"EUR_USD"});
    EXPECT_EQ(options.rows, 21);
    EXPECT_EQ(options.color, ColorMode::Auto);
    EXPECT_EQ(options.timeoutSeconds, 120);
}

TEST(Options, TakeValuesAfterTheNameOrAfterAnEqualsSign) {
    const Options options =
        ParseOptions({"--library=x.dll", "--server", "MORVA-UK-1", "--instruments",
                      "EUR_USD,GBP_USD", "--time=1721044800", "--platform", "mt4", "--rows", "7",
                      "--color", "never", "--watch", "5", "--count", "2", "--svg", "b.svg"});
    EXPECT_EQ(options.library, "x.dll");
    EXPECT_EQ(options.server, "MORVA-UK-1");
    EXPECT_EQ(options.instruments, (std::vector<std::string>{"EUR_USD", "GBP_USD"}));
    EXPECT_EQ(options.time, 1721044800);
    EXPECT_EQ(options.platform, "mt4");
    EXPECT_EQ(options.rows, 7);
    EXPECT_EQ(options.color, ColorMode::Never);
    EXPECT_EQ(options.watchSeconds, 5);
    EXPECT_EQ(options.count, 2);
    EXPECT_EQ(options.svgFile, "b.svg");
}

TEST(Options, HelpNeedsNoLibrary) {
    EXPECT_TRUE(ParseOptions({"--help"}).help);
}

TEST(Options, RefuseWhatCannotBeRun) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"a.so", "b.so"},
        {"a.so", "--platform", "mt6"},
        {"a.so", "--rows", "0"},
        {"a.so", "--rows", "12x"},
        {"a.so", "--time", "-5"},
        {"a.so", "--instruments", "EUR_USD,,GBP_USD"},
        {"a.so", "--color", "sometimes"},
        {"a.so", "--count", "3"},
        {"a.so", "--timeout"},
        {"a.so", "--frobnicate", "1"},
    };
    for (const auto& args : refused) {
        EXPECT_THROW(ParseOptions(args), UsageError) << ::testing::PrintToString(args);
    }
}

}  // namespace
