#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/minimal_dll.h"
#include "updates/pe_image_check.h"
#include "updates/version_number.h"

namespace morva {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;
using Bytes = std::vector<std::uint8_t>;

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

// `bytes` with `value` written little-endian in `width` bytes at `at`.
Bytes Changed(Bytes bytes, std::size_t at, std::uint32_t value, int width = 1) {
    for (int i = 0; i < width; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return bytes;
}

TEST(PeImageDefect, OnlyACompleteDllOfTheMachinePasses) {
    const Bytes amd64 = test::MinimalDll(kMachineAmd64);
    const Bytes i386 = test::MinimalDll(kMachineI386);
    const std::string html = "<!DOCTYPE html><html><body>Sign in</body></html>";
    struct Case {
        Bytes image;
        std::uint16_t machine;
        std::string defect;
    };
    const Case cases[] = {
        {amd64, kMachineAmd64, ""},
        {i386, kMachineI386, ""},
        {amd64, kMachineI386, "machine 0x8664, not 0x014C"},
        {Bytes(html.begin(), html.end()), kMachineAmd64, "no MZ header"},
        {Bytes(), kMachineAmd64, "no MZ header"},
        {Bytes(amd64.begin(), amd64.begin() + 0x40), kMachineAmd64,
         "PE header offset out of range: 64"},
        {Changed(amd64, 0x3C, 0xFF0000F0, 4), kMachineAmd64,
         "PE header offset out of range: 4278190320"},
        {Changed(amd64, 0x41, 'X'), kMachineAmd64, "no PE signature"},
        {Changed(amd64, 0x57, 0), kMachineAmd64, "not a DLL"},  // an .exe
        {Changed(amd64, 0x58, 0x10B, 2), kMachineAmd64, "optional header of another kind"},
        {Changed(amd64, 0x46, 0), kMachineAmd64, "section table out of range: 0 sections"},
        {Changed(amd64, 0x47, 0xFF), kMachineAmd64, "section table out of range: 65281 sections"},
        {Bytes(amd64.begin(), amd64.end() - 1), kMachineAmd64, "cut short: 1023 of 1024 bytes"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PeImageDefect(c.image, c.image.size(), c.machine), c.defect) << c.defect;
    }
}

// An installed library is judged by its headers and its size, without reading all of it.
TEST(PeImageDefect, HeadersAndSizeAreEnough) {
    const Bytes dll = test::MinimalDll(kMachineI386, 0x10000);
    const Bytes head(dll.begin(), dll.begin() + 0x200);
    EXPECT_EQ(PeImageDefect(head, dll.size(), kMachineI386), "");
    EXPECT_EQ(PeImageDefect(head, dll.size() - 1, kMachineI386), "cut short: 65535 of 65536 bytes");
}

}  // namespace
}  // namespace morva
