// The authorization server's answer to a token request: an error reply of any status, and a
// 200 reply whose tokens are read (the access token's claims included).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "auth/http_auth_client.h"
#include "base/morva_error.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    morva::HttpResponse response;
    // The first byte picks the status: the error path for anything but 200.
    response.status = data[0] < 0x80 ? 200 : 400 + data[0] % 200;
    response.body = std::string(morva::fuzz::AsText(data + 1, size - 1));

    try {
        morva::auth_detail::CheckTokenResponse("Fuzz", response);
    } catch (const morva::MorvaError&) {
        if (response.status == 200) {
            __builtin_trap();  // a 200 reply is never an error of its own
        }
        return 0;
    }
    if (response.status != 200) {
        __builtin_trap();
    }
    // The access token's claims; members missing or of the wrong type; "syntax error in the token
    // response ...".
    morva::fuzz::Tolerating<morva::MorvaError, nlohmann::json::exception, std::runtime_error>([&] {
        morva::auth_detail::ParseAuthTokens(response, std::chrono::steady_clock::time_point{},
                                            std::optional<std::string>("fallback"));
    });
    return 0;
}
