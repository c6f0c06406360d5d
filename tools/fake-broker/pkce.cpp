#include "pkce.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include "jwt.h"

namespace fake_broker {

std::string S256Challenge(std::string_view verifier) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(verifier.data(), verifier.size(), digest.data(), &length, EVP_sha256(),
                   nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return Base64UrlEncode(std::string_view(reinterpret_cast<const char*>(digest.data()), length));
}

bool VerifierMatches(std::string_view verifier, std::string_view challenge) {
    const bool wellFormed = verifier.size() >= 43 && verifier.size() <= 128 &&
                            std::all_of(verifier.begin(), verifier.end(), [](char c) {
                                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                       (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                       c == '~';
                            });
    return wellFormed && S256Challenge(verifier) == challenge;
}

}  // namespace fake_broker
