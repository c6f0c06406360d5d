#include "util/printf_format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace morva {
namespace {

template <class... Args>
std::string Narrow(std::string_view format, const Args&... args) {
    const std::array<PrintfArg, sizeof...(Args)> list{PrintfArg(args)...};
    std::string out;
    return FormatPrintf(out, format, list) ? out : std::string("<failed>");
}

template <class... Args>
std::u16string Wide(std::u16string_view format, const Args&... args) {
    const std::array<PrintfArg, sizeof...(Args)> list{PrintfArg(args)...};
    std::u16string out;
    return FormatPrintf(out, format, list) ? out : std::u16string(u"<failed>");
}

TEST(PrintfFormat, IntegersFollowTheirLengthModifiers) {
    EXPECT_EQ(Narrow("%s failed (0x%08X)", "Convert size to DWORD", 0x80070216u),
              "Convert size to DWORD failed (0x80070216)");
    EXPECT_EQ(Narrow("%d|%i|%u|%x|%o", -42, 7, 42u, 255, 8), "-42|7|42|ff|10");
    EXPECT_EQ(Narrow("%lld %zu %hhd", std::int64_t{-5000000000}, std::size_t{12}, 300),
              "-5000000000 12 44");
    EXPECT_EQ(Narrow("[%5d][%-5d][%05d][%+d]", 42, 42, 42, 42), "[   42][42   ][00042][+42]");
    EXPECT_EQ(Narrow("[%*d][%-*d]", 4, 7, 3, 7), "[   7][7  ]");
    // A plain %d reads an int, as printf would: wider values wrap the same way.
    EXPECT_EQ(Narrow("%d", std::int64_t{4294967297}), "1");
    EXPECT_EQ(Narrow("%c%%", 'A'), "A%");
}

TEST(PrintfFormat, FloatingPointAndStrings) {
    EXPECT_EQ(Narrow("%.6f", 1.5), "1.500000");
    EXPECT_EQ(Narrow("%g", 0.001), "0.001");
    EXPECT_EQ(Narrow("[%.3s][%6s][%-6s]", "abcdef", "ab", "ab"), "[abc][    ab][ab    ]");
    EXPECT_EQ(Narrow("%s", std::string("text")), "text");
    EXPECT_EQ(Narrow("%s", static_cast<const char*>(nullptr)), "(null)");
}

TEST(PrintfFormat, WideArgumentsNarrowOnlyUpToLatin1) {
    EXPECT_EQ(Narrow("%ls %ls", u"EURUSD", std::u16string(u"OrderBook")), "EURUSD OrderBook");
    EXPECT_EQ(Narrow("%ls", u"Caf\u00e9"), std::string("Caf\xe9"));
    EXPECT_EQ(Narrow("%ls", u"\u0416"), "<failed>");
    EXPECT_EQ(Narrow("%.2ls", u"\u00e9\u00e9\u0416"), std::string("\xe9\xe9"));
    EXPECT_EQ(Narrow("%ls", static_cast<const char16_t*>(nullptr)), "(null)");
}

TEST(PrintfFormat, MismatchedOrMissingArgumentsFail) {
    EXPECT_EQ(Narrow("%d", "text"), "<failed>");
    EXPECT_EQ(Narrow("%s", 42), "<failed>");
    EXPECT_EQ(Narrow("%s", u"wide"), "<failed>");
    EXPECT_EQ(Narrow("%ls", "narrow"), "<failed>");
    EXPECT_EQ(Narrow("%f", 1), "<failed>");
    EXPECT_EQ(Narrow("%d %d", 1), "<failed>");
    EXPECT_EQ(Narrow("trailing %"), "<failed>");
    EXPECT_EQ(Narrow("%q", 1), "<failed>");
    int written = 0;
    EXPECT_EQ(Narrow("%n", &written), "<failed>");
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Narrow("%99999999d", 1), "<failed>");
}

TEST(PrintfFormat, WideFormatsKeepWideText) {
    EXPECT_EQ(Wide(u"%ls %ls has started loading...", u"EURUSD", u"OrderBook"),
              u"EURUSD OrderBook has started loading...");
    EXPECT_EQ(Wide(u"%ls %ls has not been loaded (%d)", u"\u0416", u"PositionBook", -7),
              u"\u0416 PositionBook has not been loaded (-7)");
    EXPECT_EQ(Wide(u"%s", "ascii"), u"ascii");
}

TEST(PrintfFormat, TruncatedFormattingCutsAndFallsBack) {
    std::array<char, 8> buffer{};
    buffer.fill('x');
    FormatTruncated<char>(buffer.data(), buffer.size(), "fallback", "%s", "0123456789");
    EXPECT_STREQ(buffer.data(), "0123456");
    FormatTruncated<char>(buffer.data(), buffer.size(), "bad", "%d", "not a number");
    EXPECT_STREQ(buffer.data(), "bad");

    std::array<char16_t, 4> wide{};
    FormatTruncated<char16_t>(wide.data(), wide.size(), u"", u"%d", 123456);
    EXPECT_EQ(std::u16string(wide.data()), u"123");
}

}  // namespace
}  // namespace morva
