#include "base/morva_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <string>

namespace morva {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(MorvaError, FormatsAndCutsAt255Characters) {
    EXPECT_STREQ(MorvaError("%s failed (HTTP %d): %s", "Get order book", 503, "busy").what(),
                 "Get order book failed (HTTP 503): busy");
    EXPECT_STREQ(MorvaError("%d", "not a number").what(), "Incorrectly formatted error");

    const std::string long300(300, 'a');
    EXPECT_EQ(std::string(MorvaError("%s", long300.c_str()).what()), long300.substr(0, 255));
}

TEST(MorvaError, SubtypeIsCaughtByEveryHandlerWithItsOwnText) {
    const auto throwInvalid = [] { throw InvalidInstrumentError("%ls does not exist", u"XYZ"); };
    EXPECT_THAT(throwInvalid, ThrowsMessage<MorvaError>(StrEq("XYZ does not exist")));
    EXPECT_THROW(throwInvalid(), InvalidInstrumentError);
}

TEST(MorvaError, CopiesKeepTheTextWhenTheOriginalIsGone) {
    const std::string text(255, 'z');
    std::exception_ptr stored;
    {
        const MorvaError original("%s", text.c_str());
        MorvaError copy = original;
        stored = std::make_exception_ptr(copy);
    }
    EXPECT_THAT([&] { std::rethrow_exception(stored); }, ThrowsMessage<MorvaError>(StrEq(text)));
}

}  // namespace
}  // namespace morva
