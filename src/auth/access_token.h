#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "auth/jwt.h"

namespace morva {

// What every consumer of the token service receives, by value.
struct AccessToken {
    std::string tokenType;       // "token_type"; goes before the token in the Authorization header
    std::string token;           // the access token text as received
    std::int32_t expiresIn = 0;  // seconds, "expires_in"
    // Read just before the token request was sent, plus expiresIn.
    std::chrono::steady_clock::time_point expiresAt{};
    Jwt jwt;
};

}  // namespace morva
