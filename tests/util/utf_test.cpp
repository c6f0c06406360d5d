#include "util/utf.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace morva {
namespace {

struct Pair {
    std::string utf8;
    std::u16string utf16;
};

// Byte strings spelled out, so the test does not depend on the source file's encoding.
const Pair kPairs[] = {
    {"plain ASCII", u"plain ASCII"},
    {"caf\xC3\xA9", u"caf\u00E9"},
    {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", u"\u041F\u0440\u0438\u0432\u0435\u0442"},
    {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},
    {"a\xF0\x9F\x98\x80z", u"a\xD83D\xDE00z"},  // U+1F600 as a surrogate pair
};

TEST(UtfRoundTrip, EachWayGivesTheExpectedUnitsAndBytes) {
    for (const Pair& pair : kPairs) {
        EXPECT_EQ(Utf8ToUtf16(pair.utf8), pair.utf16) << pair.utf8;
        EXPECT_EQ(Utf16ToUtf8(pair.utf16), pair.utf8);
    }
}

TEST(UtfEmpty, EmptyAndNullGiveEmptyAndStringObjectsStopAtTheFirstNull) {
    EXPECT_EQ(Utf8ToUtf16(std::string()), u"");
    EXPECT_EQ(Utf8ToUtf16(static_cast<const char*>(nullptr)), u"");
    EXPECT_EQ(Utf16ToUtf8(std::u16string()), "");
    EXPECT_EQ(Utf16ToUtf8(static_cast<const char16_t*>(nullptr)), "");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(Utf8ToUtf16(std::string("\xD0\x96\0tail", 7)), u"\u0416");
}

// The valid text around a bad sequence must survive; how many U+FFFD stand for it differs
// between converters, so only their presence is checked.
void ExpectReplacedBetween(const std::string& input, std::u16string_view before,
                           std::u16string_view after) {
    const std::u16string result = Utf8ToUtf16(input);
    ASSERT_GT(result.size(), before.size() + after.size()) << "nothing replaced the bad bytes";
    EXPECT_EQ(std::u16string_view(result).substr(0, before.size()), before);
    EXPECT_EQ(std::u16string_view(result).substr(result.size() - after.size()), after);
    for (std::size_t i = before.size(); i < result.size() - after.size(); ++i) {
        EXPECT_EQ(result[i], u'\uFFFD') << "at " << i;
    }
}

TEST(UtfInvalidInput, BadUtf8BecomesReplacementCharacters) {
    const struct {
        std::string input;
        std::u16string_view before, after;
    } cases[] = {
        {"ab\x80yz", u"ab", u"yz"},                // lone continuation
        {"\xD0\x96\xE4\xB8z", u"\u0416", u"z"},    // truncated sequence
        {"x\xE4\xB8", u"x", u""},                  // truncated at the end
        {"\xFF\xFE\xE4\xB8\xAD", u"", u"\u4E2D"},  // bytes never valid
    };
    for (const auto& c : cases) {
        ExpectReplacedBetween(c.input, c.before, c.after);
    }
}

TEST(UtfInvalidInput, LoneSurrogatesBecomeReplacementCharacters) {
    const std::pair<std::u16string, std::string> cases[] = {
        {{u'a', char16_t{0xD800}, u'z'}, "a\xEF\xBF\xBDz"},
        {{char16_t{0xDC00}, u'\u0416'}, "\xEF\xBF\xBD\xD0\x96"},
        {{u'x', char16_t{0xDBFF}}, "x\xEF\xBF\xBD"},  // high at the end
    };
    for (const auto& [utf16, utf8] : cases) {
        EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
    }
}

}  // namespace
}  // namespace morva
