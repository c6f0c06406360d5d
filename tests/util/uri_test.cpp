#include "util/uri.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/decimal_comma_locale.h"
namespace morva {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

TEST(UriEncode, LeavesLettersDigitsAndTheFourMarksUnchanged) {
    const std::u16string text = u"ABCXYZabcxyz0123456789-._~";
    EXPECT_EQ(EncodeUriComponent(text), text);
    EXPECT_EQ(EncodeUriComponent(u""), u"");
}

TEST(UriEncode, EncodesEverythingElseWithTwoUpperCaseHexDigits) {
    EXPECT_EQ(EncodeUriComponent(u"EUR/USD"), u"EUR%2FUSD");
    EXPECT_EQ(EncodeUriComponent(u"2023-01-01T00:00:00Z"), u"2023-01-01T00%3A00%3A00Z");
    EXPECT_EQ(EncodeUriComponent(u"openid offline_access"), u"openid%20offline_access");
    EXPECT_EQ(EncodeUriComponent(u"\t\n"), u"%09%0A");
    EXPECT_EQ(EncodeUriComponent(u"+%&=?#!*'()"), u"%2B%25%26%3D%3F%23%21%2A%27%28%29");
    EXPECT_EQ(EncodeUriComponent(u"morva://login.morva.example/cb"),
              u"morva%3A%2F%2Flogin.morva.example%2Fcb");
}

TEST(UriEncode, NonAsciiCharactersKeepOnlyTheirLowByteWhateverTheLocale) {
    EXPECT_EQ(EncodeUriComponent(u"a\u2028b"), u"a%28b");
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

TEST(UriDecode, TurnsEachEscapeIntoOneUnit) {
    EXPECT_EQ(DecodeUriComponent(u"EUR%2FUSD"), u"EUR/USD");
    EXPECT_EQ(DecodeUriComponent(u"%41%62%7e"), u"Ab~");
    EXPECT_EQ(DecodeUriComponent(u"%E9%e9"), u"\u00E9\u00E9");
    EXPECT_EQ(DecodeUriComponent(u"%C3%A9"), u"\u00C3\u00A9");  // bytes, not UTF-8
    EXPECT_EQ(DecodeUriComponent(u"%00x"), std::u16string(u"\0x", 2));
}

TEST(UriDecode, CopiesEverythingElseUnchanged) {
    EXPECT_EQ(DecodeUriComponent(u"a+b c"), u"a+b c");
    EXPECT_EQ(DecodeUriComponent(u"\u0416\u4E2D"), u"\u0416\u4E2D");
    EXPECT_EQ(DecodeUriComponent(u""), u"");
}

TEST(UriDecode, ReadsTheTwoCharactersLikeStoi) {
    EXPECT_EQ(DecodeUriComponent(u"%5z"), u"\u0005");    // stops at the first non-digit
    EXPECT_EQ(DecodeUriComponent(u"% 5"), u"\u0005");    // leading white space
    EXPECT_EQ(DecodeUriComponent(u"%+5x"), u"\u0005x");  // sign
    EXPECT_EQ(DecodeUriComponent(u"%-1"), u"\uFFFF");    // -1 as one unit
    // A "0x" prefix would need a third digit, so "0x" reads as 0.
    const std::u16string zeroThen41{u'\0', u'4', u'1'};
    EXPECT_EQ(DecodeUriComponent(u"%0x41"), zeroThen41);
}

TEST(UriDecode, TooFewCharactersAfterPercentIsMalformed) {
    const auto malformed =
        ThrowsMessage<std::invalid_argument>(StrEq("Failed to decode malformed URI component"));
    EXPECT_THAT([] { DecodeUriComponent(u"%4"); }, malformed);
    EXPECT_THAT([] { DecodeUriComponent(u"abc%"); }, malformed);
    EXPECT_THAT([] { DecodeUriComponent(u"%41%"); }, malformed);
}

TEST(UriDecode, NoHexDigitAfterPercentThrowsInvalidArgument) {
    const auto invalid = ThrowsMessage<std::invalid_argument>(StrEq("invalid stoi argument"));
    EXPECT_THAT([] { DecodeUriComponent(u"%zz"); }, invalid);
    EXPECT_THAT([] { DecodeUriComponent(u"ok%g1"); }, invalid);
    EXPECT_THAT([] { DecodeUriComponent(u"% -"); }, invalid);
    EXPECT_THAT([] { DecodeUriComponent(u"%+g"); }, invalid);
}

TEST(UriQuery, ReadsDecodedPairsAfterTheQuestionMark) {
    const QueryMap query =
        ParseQueryParameters(u"morva://login/cb?code=a%2Fb&state=x%20y&error_description=n%3Dm");
    EXPECT_EQ(query,
              (QueryMap{{u"code", u"a/b"}, {u"state", u"x y"}, {u"error_description", u"n=m"}}));
}

TEST(UriQuery, WithoutAQueryGivesAnEmptyMap) {
    EXPECT_TRUE(ParseQueryParameters(u"morva://login/cb").empty());
    EXPECT_TRUE(ParseQueryParameters(u"morva://login/cb?").empty());
    EXPECT_TRUE(ParseQueryParameters(u"").empty());
}

TEST(UriQuery, LastOccurrenceWinsAndANameAloneHasAnEmptyValue) {
    EXPECT_EQ(ParseQueryParameters(u"x?a=1&b&a=3"), (QueryMap{{u"a", u"3"}, {u"b", u""}}));
}

TEST(UriQuery, SplitsAtTheFirstEqualsSignAndTheFirstQuestionMark) {
    EXPECT_EQ(ParseQueryParameters(u"x?a=b=c"), (QueryMap{{u"a", u"b=c"}}));
    EXPECT_EQ(ParseQueryParameters(u"x?a=1?b=2"), (QueryMap{{u"a", u"1?b=2"}}));
    EXPECT_EQ(ParseQueryParameters(u"x?=v"), (QueryMap{{u"", u"v"}}));
}

TEST(UriQuery, TrailingAmpersandEndsTheQuery) {
    EXPECT_EQ(ParseQueryParameters(u"x?a=1&"), (QueryMap{{u"a", u"1"}}));
    EXPECT_EQ(ParseQueryParameters(u"x?a=1&&b=2"),
              (QueryMap{{u"a", u"1"}, {u"", u""}, {u"b", u"2"}}));
}

TEST(UriQuery, FragmentStaysInTheLastValue) {
    EXPECT_EQ(ParseQueryParameters(u"x?code=abc&state=s#frag"),
              (QueryMap{{u"code", u"abc"}, {u"state", u"s#frag"}}));
}

TEST(UriQuery, MalformedEscapesPropagate) {
    EXPECT_THAT([] { ParseQueryParameters(u"x?a=%4"); }, testing::Throws<std::invalid_argument>());
    EXPECT_THAT([] { ParseQueryParameters(u"x?%zz=1"); }, testing::Throws<std::invalid_argument>());
}

}  // namespace
}  // namespace morva
