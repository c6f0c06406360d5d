#pragma once

#include <string>

#include "auth/access_token.h"
#include "base/morva_error.h"

namespace morva {

// What the token endpoint hands out for one grant.
struct AuthTokens {
    std::string refreshToken;  // UTF-8; may be empty
    AccessToken accessToken;
};

// The token endpoint's definite answer that a grant is no good (HTTP 400, 401 or 403: a revoked
// refresh token, a used code). Every other failure, a dropped connection or a 503, says nothing
// about the grant, which may well work a minute later.
class GrantRefusedError : public MorvaError {
  public:
    using MorvaError::MorvaError;
};

// The OAuth 2.0 token endpoint. Each call is one request; nothing is cached or retried. Every
// operation throws MorvaError on failure, GrantRefusedError when the endpoint refused the grant.
class AuthClient {
  public:
    // After an interactive sign-in, with the verifier of the code challenge it asked with; every
    // argument UTF-8.
    virtual AuthTokens GetAuthTokensByCode(const std::string& redirectUri, const std::string& code,
                                           const std::string& codeVerifier) = 0;
    virtual AuthTokens GetAuthTokensByRefreshToken(const std::string& refreshToken) = 0;
    // Client-credentials grant (machine to machine).
    virtual AuthTokens GetAuthTokensBySecret(const std::string& audience,
                                             const std::string& clientSecret) = 0;
    virtual ~AuthClient() = default;
};

}  // namespace morva
