#include "auth/authorization_request.h"

#include <array>

#include "auth/base64.h"
#include "base/secure_random.h"
#include "util/sha256.h"

namespace morva {

namespace {

std::string RandomText() {
    std::array<char, 32> bytes{};
    FillSecureRandom(bytes.data(), bytes.size());
    return EncodeBase64Url(std::string_view(bytes.data(), bytes.size()));
}

}  // namespace

AuthorizationRequest AuthorizationRequest::Create() {
    AuthorizationRequest request;
    request.state = RandomText();
    request.codeVerifier = RandomText();
    request.codeChallenge = CodeChallengeOf(request.codeVerifier);
    return request;
}

std::string CodeChallengeOf(std::string_view codeVerifier) {
    const Sha256Digest digest = Sha256(codeVerifier);
    return EncodeBase64Url(
        std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

}  // namespace morva
