// The sign-in redirect the browser is sent to: its query parsed and percent-decoded, its code or
// error read.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "auth/sign_in_flow.h"
#include "base/morva_error.h"
#include "fuzz_input.h"
#include "util/uri.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string url = morva::fuzz::AsUtf16Units(morva::fuzz::AsText(data, size));
    using morva::fuzz::Tolerating;
    // "%" without two characters after it, or followed by no hex digit.
    Tolerating<morva::MorvaError, std::invalid_argument>([&] {
        // Decoding only ever shortens: three characters for one.
        if (morva::DecodeUriComponent(url).size() > url.size()) {
            __builtin_trap();
        }
    });
    Tolerating<morva::MorvaError, std::invalid_argument>([&] { morva::ParseQueryParameters(url); });
    // A wrong state, the server's error, a malformed escape.
    Tolerating<morva::MorvaError, std::invalid_argument>(
        [&] { morva::ReadAuthorizationCode(url, "state"); });
    return 0;
}
