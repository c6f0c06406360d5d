// An access token's header and payload. Half the inputs are the token text itself; the other half
// are two JSON texts (header, line feed, payload) encoded here into a token, so that the claims
// reader sees every shape of JSON rather than only what survives random Base64.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "auth/base64.h"
#include "auth/jwt.h"
#include "base/morva_error.h"
#include "fuzz_input.h"

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
        token = morva::EncodeBase64Url(header) + "." + morva::EncodeBase64Url(payload) +
                ".c2lnbmF0dXJl";
    }
    morva::fuzz::Tolerating<morva::MorvaError>([&] { morva::ParseJwt(token); });
    return 0;
}
