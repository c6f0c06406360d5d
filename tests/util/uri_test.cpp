#include "util/uri.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "support/decimal_comma_locale.h"
namespace morva {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;
using Pair = std::pair<std::u16string, std::u16string>;

TEST(UriEncode, KeepsLettersDigitsAndTheFourMarksAndEncodesTheRestInUpperCaseHex) {
    const Pair cases[] = {
        {u"ABCXYZabcxyz0123456789-._~", u"ABCXYZabcxyz0123456789-._~"},
        {u"openid offline_access\t\n", u"openid%20offline_access%09%0A"},
        {u"+%&=?#!*'()/", u"%2B%25%26%3D%3F%23%21%2A%27%28%29%2F"},
        {u"a\u2028b", u"a%28b"},  // beyond ASCII only the low byte is kept
    };
    for (const auto& [text, encoded] : cases) {
        EXPECT_EQ(EncodeUriComponent(text), encoded);
    }
    const DecimalCommaLocale locale;  // where one is installed: its letters are not ASCII's
    EXPECT_EQ(EncodeUriComponent(u"Caf\u00e9"), u"Caf%E9");
}

TEST(UriEncode, EveryAsciiCharacterSurvivesARoundTrip) {
    std::u16string text;
    for (char16_t c = 1; c < 0x80; ++c) {
        text.push_back(c);
    }
    EXPECT_EQ(DecodeUriComponent(EncodeUriComponent(text)), text);
}

TEST(UriDecode, TurnsEachEscapeIntoOneUnitReadLikeStoiAndCopiesTheRest) {
    const Pair cases[] = {
        {u"EUR%2FUSD", u"EUR/USD"},
        {u"%E9%e9", u"\u00E9\u00E9"},
        {u"%C3%A9", u"\u00C3\u00A9"},  // bytes, not UTF-8
        {u"%00x", std::u16string(u"\0x", 2)},
        {u"a+b c\u0416\u4E2D", u"a+b c\u0416\u4E2D"},
        {u"%-1", u"\uFFFF"},  // read like stoi: -1, as one unit
        // A "0x" prefix would need a third digit, so "0x" reads as 0.
        {u"%0x41", std::u16string{u'\0', u'4', u'1'}},
    };
    for (const auto& [text, decoded] : cases) {
        EXPECT_EQ(DecodeUriComponent(text), decoded);
    }
}

TEST(UriDecode, TooFewCharactersOrNoHexDigitAfterPercentThrowsInvalidArgument) {
    EXPECT_THAT(
        [] { DecodeUriComponent(u"%41%4"); },
        ThrowsMessage<std::invalid_argument>(StrEq("Failed to decode malformed URI component")));
    EXPECT_THAT([] { DecodeUriComponent(u"ok%g1"); },
                ThrowsMessage<std::invalid_argument>(StrEq("invalid stoi argument")));
    EXPECT_THAT([] { ParseQueryParameters(u"x?a=%4"); }, testing::Throws<std::invalid_argument>());
    EXPECT_THAT([] { ParseQueryParameters(u"x?%zz=1"); }, testing::Throws<std::invalid_argument>());
}

TEST(UriQuery, ReadsDecodedPairsAfterTheFirstQuestionMark) {
    const std::pair<std::u16string, QueryMap> cases[] = {
        {u"morva://login/cb?code=a%2Fb&state=x%20y&error_description=n%3Dm",
         {{u"code", u"a/b"}, {u"state", u"x y"}, {u"error_description", u"n=m"}}},
        {u"morva://login/cb", {}},
        {u"morva://login/cb?", {}},
        // The last occurrence wins; a name alone has an empty value.
        {u"x?a=1&b&a=3", {{u"a", u"3"}, {u"b", u""}}},
        // Split at the first equals sign and the first question mark.
        {u"x?a=b=c", {{u"a", u"b=c"}}},
        {u"x?a=1?b=2", {{u"a", u"1?b=2"}}},
        {u"x?=v", {{u"", u"v"}}},
        {u"x?a=1&", {{u"a", u"1"}}},
        {u"x?a=1&&b=2", {{u"a", u"1"}, {u"", u""}, {u"b", u"2"}}},
        {u"x?code=abc&state=s#frag", {{u"code", u"abc"}, {u"state", u"s#frag"}}},
    };
    for (const auto& [uri, query] : cases) {
        EXPECT_EQ(ParseQueryParameters(uri), query);
    }
}

}  // namespace
}  // namespace morva
