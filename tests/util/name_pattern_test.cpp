#include "util/name_pattern.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morva {
namespace {

using testing::AllOf;
using testing::HasSubstr;
using testing::ThrowsMessage;

template <class Text>
Text Widen(std::string_view ascii) {
    return Text(ascii.begin(), ascii.end());
}

bool Matches(std::string_view pattern, std::string_view name) {
    return NamePattern(Widen<std::u16string>(pattern)).Matches(Widen<std::u16string>(name));
}

std::vector<std::string> Split(char separator, const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream fields(text);
    for (std::string field; std::getline(fields, field, separator);) {
        parts.push_back(field);
    }
    return parts;
}

// What brokers write, and the corners of the syntax around it, between blanks; the first is
// the empty pattern.
const std::vector<std::string> kAgreementPatterns =
    Split(' ',
          " MORVA.* MORVATest.* ^MORVA-(Live|Demo)-[0-9]+$ MORVA-Live-\\d+ "
          "[A-Z]+Test-?.* (?:a|b)+c? MORVA\\.Live MORVA\\-Live-\\d{1,2} [^a-z]* "
          "[-a]b|[a-]c \\w+\\s\\w+ \\D\\W\\S [\\d.]+ [\\]a]* x{0}a|b{2,}|c{2,3} (ab){2} "
          "a*?b|a+?c|d?? (a*)*b (a|)*c (|a)(b|) () a||b (^a|b)c a$|b a^b ^$ \\x41\\u0062 "
          "a\\tb \\\\|\\*|\\/ ]} []a [^]* ((a)|(b))((c)) (?:(?:M|N)(?:O|P))+ a|ab ab|a "
          "a{3} a{0,2} a{1,1}? (?:ab){0}c Live");

// The names, between bars; the first is the empty name.
const std::vector<std::string> kAgreementNames =
    Split('|',
          "|a|b|c|ab|abab|ac|bc|aab|abc|bb|bbb|ccc|cccc|d|MORVA|MORVA-Live-3|MORVA-Live-|"
          "MORVA-Live-123|MORVA-Demo-12|MORVA-Real-1|MORVATest|MORVATest-Demo|morva-live-3|"
          "MORVA.Live|MORVAxLive|XYZTest-|ABCTest-Demo|Test|12|1.5|a b|a\tb|ab c|5-x|-b|]a|"
          "]}|\\|*|/|Ab|MOMPNO|MONP|aa|aaa|aaaa|XMORVA|MORVA-Live");

TEST(NamePattern, AgreesWithStdRegexOnWhatBrokersWrite) {
    for (const std::string& pattern : kAgreementPatterns) {
        const NamePattern ours(Widen<std::u16string>(pattern));
        const std::wregex theirs(Widen<std::wstring>(pattern), std::regex::ECMAScript);
        for (const std::string& name : kAgreementNames) {
            EXPECT_EQ(ours.Matches(Widen<std::u16string>(name)),
                      std::regex_match(Widen<std::wstring>(name), theirs))
                << "pattern " << pattern << ", name " << name;
        }
    }
}

struct WideCase {
    std::u16string_view pattern;
    std::u16string_view name;
    bool matches;
};

// Surrogate pairs are one character, a lone surrogate is one too; ECMAScript's meanings of the
// classes hold beyond ASCII.
TEST(NamePattern, ReadsUtf16AsEcmaScriptDoes) {
    const WideCase cases[] = {
        {u"^.$", u"\U0001F600", true},
        {u"..", u"\U0001F600", false},
        {u"[\U0001F600-\U0001F602]", u"\U0001F603", false},
        {u"\U0001F600+", u"\U0001F600\U0001F600", true},
        {u"\\uD83D\\uDE00", u"\U0001F600", true},
        {u"\\uD83D.", u"\U0001F600", false},
        {u".", u"\xD800", true},
        {u".", u"\n", false},
        {u".", u"\u2028", false},
        {u"[^a]", u"\n", true},
        {u"\\s", u"\uFEFF", true},
        {u"\\S", u"\u00A0", false},
        {u"\\W", u"\u00E9", true},
        {u"\\d", u"\u0661", false},  // Arabic-Indic one
        {u"[\\b]", u"\b", true},
        {u"\\0", std::u16string_view(u"\0", 1), true},
        {u"a.b", std::u16string_view(u"a\0b", 3), true},
        {u"[^\\0-a]", u"\U0010FFFF", true},
        {u"[^\\s]", u"\u3000", false},
    };
    for (const WideCase& c : cases) {
        EXPECT_EQ(NamePattern(c.pattern).Matches(c.name), c.matches) << "case " << &c - cases;
    }
}

struct Refusal {
    const char* pattern;
    const char* reason;
};

TEST(NamePattern, RefusesWhatItCannotReadSayingWhatAndWhere) {
    const Refusal refusals[] = {
        {"(a)\\1", "Unsupported server name pattern (backreference at offset 3)"},
        {"(?<n>a)\\k<n>", "Unsupported server name pattern (named group at offset 0)"},
        {"a\\k<n>", "Unsupported server name pattern (backreference at offset 1)"},
        {"MORVA(?!-Demo).*", "Unsupported server name pattern (lookahead at offset 5)"},
        {"(?<=a)b", "Unsupported server name pattern (lookbehind at offset 0)"},
        {"(?i)morva", "Unsupported server name pattern (unknown group syntax at offset 0)"},
        {"MORVA\\B", "Unsupported server name pattern (word boundary at offset 5)"},
        {"\\p{L}+", "Unsupported server name pattern (Unicode property at offset 0)"},
        {"\\01", "Unsupported server name pattern (octal escape at offset 0)"},
        {"[\\1]", "Unsupported server name pattern (octal escape at offset 1)"},
        {"\\cA", "Unsupported server name pattern (unknown escape \\c at offset 0)"},
        {"[\\B]", "Unsupported server name pattern (unknown escape \\B at offset 1)"},
        {"(a{100}){100}", "Unsupported server name pattern (repetition too large at offset 8)"},
        // Within the limit until the rest of the pattern is added.
        {"a{2040}bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",
         "Unsupported server name pattern (repetition too large at offset 1)"},
        {"a{99999999999999999999}", "Unsupported server name pattern (repetition too large"},
        {"MORVA(Live", "Malformed server name pattern (unmatched '(' at offset 5)"},
        {"MORVA)", "Malformed server name pattern (unmatched ')' at offset 5)"},
        {"[a-z", "Malformed server name pattern (unmatched '[' at offset 0)"},
        {"MORVA\\", "Malformed server name pattern (backslash at the end at offset 5)"},
        {"a|*", "Malformed server name pattern (nothing to repeat at offset 2)"},
        {"(+)", "Malformed server name pattern (nothing to repeat at offset 1)"},
        {"a{2}{3}", "Malformed server name pattern (nothing to repeat at offset 4)"},
        {"a*??", "Malformed server name pattern (nothing to repeat at offset 3)"},
        {"^*", "Malformed server name pattern (nothing to repeat at offset 1)"},
        {"a$?", "Malformed server name pattern (nothing to repeat at offset 2)"},
        {"a{2", "Malformed server name pattern (incomplete quantifier at offset 1)"},
        {"a{,2}", "Malformed server name pattern (incomplete quantifier at offset 1)"},
        {"a{3,2}", "Malformed server name pattern (quantifier range out of order at offset 1)"},
        {"[z-a]", "Malformed server name pattern (class range out of order at offset 1)"},
        {"[\\d-z]", "Malformed server name pattern (set in a class range at offset 1)"},
        {"[a-\\w]", "Malformed server name pattern (set in a class range at offset 1)"},
        {"\\x4", "Malformed server name pattern (incomplete \\x escape at offset 0)"},
        {"\\u00G1", "Malformed server name pattern (incomplete \\u escape at offset 0)"},
    };
    for (const Refusal& refusal : refusals) {
        EXPECT_THAT(
            [&] { NamePattern(Widen<std::u16string>(refusal.pattern)); },
            ThrowsMessage<std::invalid_argument>(
                AllOf(HasSubstr(refusal.reason), HasSubstr(std::string("): ") + refusal.pattern))))
            << refusal.pattern;
    }
}

// std::wregex backtracks: these took seconds to hours against a few dozen characters.
TEST(NamePattern, MatchesPathologicalPatternsInLinearTime) {
    const std::u16string longest(NamePattern::kMaxNameLength - 1, u'a');
    const std::u16string twoHundred(200, u'a');
    const WideCase cases[] = {
        {u"(.|.|.|.)*Z", u"MORVA-Live-Server-03", false},
        {u"(a*)*b", longest, false},
        {u"(a+a+)+b", longest, false},
        {u"(a?){200}a{200}", twoHundred, true},
        {u"(.*.*.*.*.*.*.*)*Z", longest, false},
    };
    for (const WideCase& c : cases) {
        EXPECT_EQ(NamePattern(c.pattern).Matches(c.name), c.matches) << "case " << &c - cases;
    }
}

TEST(NamePattern, RefusesPatternsOverTheLengthLimitNamingThem) {
    // The nesting that overflowed std::wregex's recursive compiler.
    const std::string nested = std::string(30'000, '(') + std::string(30'000, ')');
    const std::string justOver(NamePattern::kMaxPatternLength + 1, 'a');
    for (const std::string& pattern : {nested, justOver}) {
        EXPECT_THAT([&] { NamePattern(Widen<std::u16string>(pattern)); },
                    ThrowsMessage<std::invalid_argument>(AllOf(
                        HasSubstr("Unsupported server name pattern (longer than 1024 units): " +
                                  pattern.substr(0, 100)),
                        testing::EndsWith("..."))));
    }
    EXPECT_NO_THROW(
        NamePattern(Widen<std::u16string>(std::string(NamePattern::kMaxPatternLength, 'a'))));
}

TEST(NamePattern, NestsAsDeepAsTheLengthLimitAllows) {
    constexpr std::size_t kDepth = NamePattern::kMaxPatternLength / 2;
    const std::string plain = std::string(kDepth, '(') + std::string(kDepth, ')');
    EXPECT_TRUE(Matches(plain, ""));
    EXPECT_FALSE(Matches(plain, "a"));

    // Every level "(x*|...)y" holds an alternation and a repetition: the y each level adds
    // counts only if every level's state comes back intact when its group closes.
    constexpr std::size_t kLevels = NamePattern::kMaxPatternLength / 8;
    std::string pattern = "a";
    for (std::size_t level = 0; level < kLevels; ++level) {
        pattern = "(x*|" + pattern + ")y";
    }
    ASSERT_LE(pattern.size(), NamePattern::kMaxPatternLength);
    const std::string name = "a" + std::string(kLevels, 'y');
    EXPECT_TRUE(Matches(pattern, name));
    EXPECT_TRUE(Matches(pattern, "xxy"));
    EXPECT_FALSE(Matches(pattern, std::string(kLevels + 1, 'y')));
    EXPECT_FALSE(Matches(pattern, name + "y"));
}

TEST(NamePattern, NeverMatchesANameOverTheLengthLimit) {
    const std::string atLimit(NamePattern::kMaxNameLength, 'a');
    EXPECT_TRUE(Matches("a*", atLimit));
    EXPECT_FALSE(Matches("a*", atLimit + "a"));
}

}  // namespace
}  // namespace morva
