#pragma once

#include <string>
#include <string_view>

namespace morva {

// What one sign-in asks the authorization server with and checks its answers against. The
// redirect must bring the state back, so that a redirect someone else made up is refused; the
// verifier (PKCE, RFC 7636) stays here until the code exchange reveals it, so that a code someone
// else caught on its way is of no use to them. All three are base64url texts.
struct AuthorizationRequest {
    std::string state;          // 256 random bits
    std::string codeVerifier;   // 256 random bits, 43 characters
    std::string codeChallenge;  // the verifier's S256 challenge

    // Fresh values from the system's cryptographic generator; throws MorvaError without one.
    static AuthorizationRequest Create();
};

// BASE64URL(SHA-256(verifier)) without padding: the challenge of code_challenge_method=S256.
std::string CodeChallengeOf(std::string_view codeVerifier);

}  // namespace morva
