// An access token's header and payload. Half the inputs are the token text itself; the other half
// are two JSON texts (header, line feed, payload) encoded here into a token, so that the claims
// reader sees every shape of JSON rather than only what survives random Base64.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "auth/jwt.h"
#include "base/morva_error.h"
#include "fuzz_input.h"

namespace {

std::string EncodeBase64Url(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const char c : bytes) {
        buffer = buffer << 8 | static_cast<unsigned char>(c);
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out.push_back(kAlphabet[(buffer >> bits) & 0x3F]);
        }
    }
    if (bits > 0) {
        out.push_back(kAlphabet[(buffer << (6 - bits)) & 0x3F]);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text = morva::fuzz::AsText(data + 1, size - 1);
    std::string token;
    if (data[0] % 2 == 0) {
        token = text;
    } else {
        const auto [header, payload] = morva::fuzz::SplitAtLine(text);
        token = EncodeBase64Url(header) + "." + EncodeBase64Url(payload) + ".c2lnbmF0dXJl";
    }
    try {
        morva::ParseJwt(token);
    } catch (const morva::MorvaError&) {
    }
    return 0;
}
