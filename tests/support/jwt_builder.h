#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morva::test {

// Base64url without padding, as token segments are written.
inline std::string EncodeBase64Url(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : bytes) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += kAlphabet[(bits >> count) & 0x3F];
        }
    }
    if (count > 0) {
        out += kAlphabet[(bits << (6 - count)) & 0x3F];
    }
    return out;
}

// An unsigned token whose header and payload are the given JSON texts.
inline std::string MakeJwt(std::string_view payload,
                           std::string_view header = R"({"alg":"RS256","typ":"JWT"})") {
    return EncodeBase64Url(header) + "." + EncodeBase64Url(payload) + ".c2lnbmF0dXJl";
}

}  // namespace morva::test
