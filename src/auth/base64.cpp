#include "auth/base64.h"

#include <array>
#include <cstdint>
#include <optional>

#include "base/morva_error.h"
#include "util/size_conversion.h"

namespace morva {

namespace {

constexpr std::uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeDecodingTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotInAlphabet);
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kDecodingTable = MakeDecodingTable();

// Standard Base64 with optional trailing padding: the decoded size, or nothing when the text is not
// Base64. Validates every character so that decoding afterwards cannot fail halfway.
std::optional<std::size_t> DecodedSize(std::string_view text) {
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    const std::string_view digits = text.substr(0, text.size() - padding);
    for (const char c : digits) {
        if (kDecodingTable[static_cast<unsigned char>(c)] == kNotInAlphabet) {
            return std::nullopt;
        }
    }
    // A lone digit holds fewer than eight bits; padding only completes a group of four.
    if (digits.size() % 4 == 1 || (padding != 0 && text.size() % 4 != 0)) {
        return std::nullopt;
    }
    return digits.size() / 4 * 3 + (digits.size() % 4 == 0 ? 0 : digits.size() % 4 - 1);
}

void Decode(std::string_view text, std::string& out) {
    std::uint32_t bits = 0;
    int bitCount = 0;
    std::size_t written = 0;
    for (const char c : text) {
        if (c == '=') {
            break;
        }
        bits = (bits << 6) | kDecodingTable[static_cast<unsigned char>(c)];
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out[written++] = static_cast<char>((bits >> bitCount) & 0xFF);
        }
    }
}

}  // namespace

std::string EncodeBase64Url(std::string_view bytes) {
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((bytes.size() * 4 + 2) / 3);
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (const char c : bytes) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        bitCount += 8;
        while (bitCount >= 6) {
            bitCount -= 6;
            out += kAlphabet[(bits >> bitCount) & 0x3F];
        }
    }
    if (bitCount > 0) {
        out += kAlphabet[(bits << (6 - bitCount)) & 0x3F];
    }
    return out;
}

std::string DecodeBase64Url(std::string_view encoded) {
    std::string standard(encoded);
    for (char& c : standard) {
        if (c == '-') {
            c = '+';
        } else if (c == '_') {
            c = '/';
        }
    }
    ToDWord(standard.size());

    const std::optional<std::size_t> size = DecodedSize(standard);
    if (!size) {
        throw MorvaError("%s failed", "Check size of Base64 decoded buffer");
    }
    if (*size == 0) {
        throw MorvaError("Non-positive Base64 decoded size");
    }
    std::string decoded(*size, '\0');
    Decode(standard, decoded);
    return decoded;
}

}  // namespace morva
