#include "base/morva_error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <future>
#include <string>

namespace morva {
namespace {

TEST(MorvaError, FormatsAndCutsAt255Characters) {
    EXPECT_STREQ(MorvaError("%s failed (HTTP %d): %s", "Get order book", 503, "busy").what(),
                 "Get order book failed (HTTP 503): busy");

    const std::string long300(300, 'a');
    const MorvaError error("%s", long300.c_str());
    EXPECT_EQ(std::strlen(error.what()), 255u);
    EXPECT_EQ(std::string(error.what()), long300.substr(0, 255));
}

TEST(MorvaError, UnformattableTextFallsBack) {
    EXPECT_STREQ(MorvaError("%d", "not a number").what(), "Incorrectly formatted error");
}

TEST(MorvaError, WideArgumentsAreUtf8) {
    EXPECT_STREQ(MorvaError("No configuration match for MetaTrader server: %ls",
                            u"\u0421\u0435\u0440\u0432\u0435\u0440-Demo")
                     .what(),
                 "No configuration match for MetaTrader server: "
                 "\xD0\xA1\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB5\xD1\x80-Demo");
}

TEST(MorvaError, SubtypeIsCaughtByEveryHandlerWithItsOwnText) {
    const auto throwInvalid = [] { throw InvalidInstrumentError("%ls does not exist", u"XYZ"); };
    try {
        throwInvalid();
        FAIL() << "nothing thrown";
    } catch (const MorvaError& e) {
        EXPECT_STREQ(e.what(), "XYZ does not exist");
    }
    try {
        throwInvalid();
        FAIL() << "nothing thrown";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "XYZ does not exist");
    }
    EXPECT_THROW(throwInvalid(), InvalidInstrumentError);
}

TEST(MorvaError, CopiesKeepTheTextAcrossThreads) {
    const std::string text(255, 'z');
    std::exception_ptr stored;
    {
        const MorvaError original("%s", text.c_str());
        MorvaError copy = original;
        stored = std::make_exception_ptr(copy);
    }
    try {
        std::rethrow_exception(stored);
    } catch (const MorvaError& e) {
        EXPECT_EQ(std::string(e.what()), text);
    }

    auto future = std::async(std::launch::async,
                             []() -> int { throw InvalidInstrumentError("%s", "from a task"); });
    try {
        future.get();
        FAIL() << "nothing thrown";
    } catch (const InvalidInstrumentError& e) {
        EXPECT_STREQ(e.what(), "from a task");
    }
}

}  // namespace
}  // namespace morva
