#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morva {

struct JwtHeader {
    std::string alg;
    std::string typ;
};

// The claims the library reads from an access token; absent members stay empty or valueless.
struct JwtPayload {
    std::string sub;  // UTF-8
    std::string iss;  // UTF-8
    std::optional<std::int64_t> iat;
    std::optional<std::int64_t> exp;
    std::string tokenId;                               // "<claims origin>/tokenID"
    std::optional<std::int32_t> liveCanAccessPremium;  // "<claims origin>/privileges".live
    std::optional<std::int32_t> demoCanAccessPremium;  // "<claims origin>/privileges".demo
};

struct Jwt {
    JwtHeader header;
    JwtPayload payload;
};

// Reads the header and payload claims of a JSON Web Token without checking its signature. Throws
// MorvaError naming the segment that failed; never returns part of a token.
Jwt ParseJwt(std::string_view token);

}  // namespace morva
