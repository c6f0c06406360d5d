#include "updates/version_number.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace morva {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(CompareVersions, ComparesPartsAsNumbersPaddedWithZeros) {
    EXPECT_EQ(CompareVersions("1.16.5.0", "1.16.5.0"), 0);
    EXPECT_EQ(CompareVersions("1.16.5.0", "1.16.4.9"), 1);
    EXPECT_EQ(CompareVersions("1.16.5.0", "1.16.6"), -1);
    EXPECT_EQ(CompareVersions("1.2", "1.2.0.0"), 0);
    EXPECT_EQ(CompareVersions("1.9", "1.10"), -1) << "numbers, not text";
    EXPECT_EQ(CompareVersions("1.-1", "1.0"), -1);
    EXPECT_EQ(CompareVersions("", "0.0"), 0) << "an empty text has no parts";
}

TEST(CompareVersions, ReadsPartsAsStreamAndStoiDo) {
    EXPECT_EQ(CompareVersions("1.2.", "1.2"), 0) << "a trailing dot adds no part";
    EXPECT_EQ(CompareVersions("1.5-beta", "1.5"), 0) << "reading stops at a non-digit";
    EXPECT_EQ(CompareVersions("1.2147483647", "1.2147483646"), 1);
}

TEST(CompareVersions, RefusesPartsThatAreNoNumbers) {
    for (const char* text : {"1.x", "1..2", "x", ".", "1. x", "-"}) {
        EXPECT_THAT([&] { CompareVersions("1.16.5.0", text); },
                    ThrowsMessage<std::invalid_argument>(StrEq("invalid stoi argument")))
            << text;
    }
    for (const char* text : {"1.2147483648", "-2147483649", "99999999999999999999"}) {
        EXPECT_THAT([&] { CompareVersions(text, "1"); },
                    ThrowsMessage<std::out_of_range>(StrEq("stoi argument out of range")))
            << text;
    }
}

TEST(IsPlainVersion, AcceptsOnlyOneToFourDigitParts) {
    for (const char16_t* text : {u"1", u"1.16", u"1.16.6", u"1.16.5.0", u"10.0.0.1234"}) {
        EXPECT_TRUE(IsPlainVersion(text)) << std::u16string(text).size();
    }
    for (const char16_t* text :
         {u"", u".", u"1.", u".1", u"1..2", u"1.2.3.4.5", u"1.0\\..\\..\\evil", u"../x", u"1/2",
          u"1 ", u" 1", u"-1", u"+1", u"1a", u"1.x", u"\u0661"}) {
        EXPECT_FALSE(IsPlainVersion(text)) << std::u16string(text).size();
    }
    EXPECT_FALSE(IsPlainVersion(std::u16string(u"1\0.2", 4))) << "an embedded null";
}

}  // namespace
}  // namespace morva
