#pragma once

#include <string>
#include <string_view>

namespace fake_broker {

// RFC 7636's S256 transformation: BASE64URL(SHA-256(verifier)), unpadded.
std::string S256Challenge(std::string_view verifier);

// Whether `verifier` is one RFC 7636 allows (43 to 128 of its unreserved characters) and its S256
// challenge is `challenge`.
bool VerifierMatches(std::string_view verifier, std::string_view challenge);

}  // namespace fake_broker
