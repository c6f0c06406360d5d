#include "util/printf_format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace morva {
namespace {

template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
    const std::array<PrintfArg, sizeof...(Args)> list{PrintfArg(args)...};
    std::string out;
    return FormatPrintf(out, format, list) ? out : std::string("<failed>");
}

TEST(PrintfFormat, IntegersFollowTheirLengthModifiers) {
    EXPECT_EQ(Format("%d|%i|%u|%x|%o", -42, 7, 42u, 255, 8), "-42|7|42|ff|10");
    EXPECT_EQ(Format("%lld %zu %hhd", std::int64_t{-5000000000}, std::size_t{12}, 300),
              "-5000000000 12 44");
    EXPECT_EQ(Format("[%5d][%-5d][%05d][%+d]", 42, 42, 42, 42), "[   42][42   ][00042][+42]");
    EXPECT_EQ(Format("[%*d][%-*d]", 4, 7, 3, 7), "[   7][7  ]");
    // A plain %d reads an int, as printf would: wider values wrap the same way.
    EXPECT_EQ(Format("%d %u", std::int64_t{4294967297}, -42), "1 4294967254");
    EXPECT_EQ(Format("%c%%", 'A'), "A%");
}

TEST(PrintfFormat, FloatingPointAndStrings) {
    EXPECT_EQ(Format("%.6f", 1.5), "1.500000");
    EXPECT_EQ(Format("%g", 0.001), "0.001");
    EXPECT_EQ(Format("[%.3s][%6s][%-6s]", "abcdef", "ab", "ab"), "[abc][    ab][ab    ]");
    EXPECT_EQ(Format("%s", std::string("text")), "text");
    EXPECT_EQ(
        Format("%s|%ls", static_cast<const char*>(nullptr), static_cast<const char16_t*>(nullptr)),
        "(null)|(null)");
}

TEST(PrintfFormat, WideArgumentsComeOutAsUtf8) {
    const struct {
        std::u16string_view wide;
        std::string_view utf8;
    } cases[] = {
        {u"EURUSD", "EURUSD"},
        {u"Caf\u00e9", "Caf\xC3\xA9"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\xD800!", "\xEF\xBF\xBD!"},  // a lone surrogate, as the library's converters treat it
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format("[%ls]", c.wide), "[" + std::string(c.utf8) + "]");
        EXPECT_EQ(Format("[%ls]", std::u16string(c.wide)), "[" + std::string(c.utf8) + "]");
    }
}

TEST(PrintfFormat, MismatchedOrMissingArgumentsFail) {
    EXPECT_EQ(Format("%d", "text"), "<failed>");
    EXPECT_EQ(Format("%s", 42), "<failed>");
    EXPECT_EQ(Format("%s", u"wide"), "<failed>");
    EXPECT_EQ(Format("%ls", "narrow"), "<failed>");
    EXPECT_EQ(Format("%f", 1), "<failed>");
    EXPECT_EQ(Format("%d %d", 1), "<failed>");
    EXPECT_EQ(Format("trailing %"), "<failed>");
    EXPECT_EQ(Format("%q", 1), "<failed>");
    int written = 0;
    EXPECT_EQ(Format("%n", &written), "<failed>");
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Format("%99999999d", 1), "<failed>");
}

TEST(PrintfFormat, TruncatedFormattingCutsWholeCharactersAndFallsBack) {
    std::array<char, 8> buffer{};
    buffer.fill('x');
    FormatTruncated(buffer.data(), buffer.size(), "fallback", "%s", "0123456789");
    EXPECT_STREQ(buffer.data(), "0123456");
    FormatTruncated(buffer.data(), buffer.size(), "bad", "%d", "not a number");
    EXPECT_STREQ(buffer.data(), "bad");

    const struct {
        std::size_t ascii;
        std::u16string_view tail;
        std::size_t kept;
    } cases[] = {
        {253, u"\u0416", 255},
        {254, u"\u0416", 254},
        {252, u"\U0001F600", 252},
    };
    for (const auto& c : cases) {
        std::array<char, 256> text{};
        FormatTruncated(text.data(), text.size(), "", "%s%ls", std::string(c.ascii, 'a'), c.tail);
        EXPECT_EQ(std::strlen(text.data()), c.kept) << c.ascii;
    }
}

}  // namespace
}  // namespace morva
