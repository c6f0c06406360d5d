// One Base64url segment of a token; and the input's bytes encoded, which decode back to them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "auth/base64.h"
#include "base/morva_error.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view encoded = morva::fuzz::AsText(data, size);
    morva::fuzz::Tolerating<morva::MorvaError>([&] {
        // Four characters carry three bytes at most.
        if (morva::DecodeBase64Url(encoded).size() > (encoded.size() + 3) / 4 * 3) {
            __builtin_trap();
        }
    });
    if (size > 0 && morva::DecodeBase64Url(morva::EncodeBase64Url(encoded)) != encoded) {
        __builtin_trap();
    }
    return 0;
}
