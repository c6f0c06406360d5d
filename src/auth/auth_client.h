#pragma once

#include <string>

#include "auth/access_token.h"

namespace morva {

// What the token endpoint hands out for one grant.
struct AuthTokens {
    std::string refreshToken;  // UTF-8; may be empty
    AccessToken accessToken;
};

// The OAuth 2.0 token endpoint. Each call is one request; nothing is cached or retried. Every
// operation throws MorvaError on failure.
class AuthClient {
  public:
    // After an interactive sign-in; both arguments UTF-8.
    virtual AuthTokens GetAuthTokensByCode(const std::string& redirectUri,
                                           const std::string& code) = 0;
    virtual AuthTokens GetAuthTokensByRefreshToken(const std::string& refreshToken) = 0;
    // Client-credentials grant (machine to machine).
    virtual AuthTokens GetAuthTokensBySecret(const std::string& audience,
                                             const std::string& clientSecret) = 0;
    virtual ~AuthClient() = default;
};

}  // namespace morva
