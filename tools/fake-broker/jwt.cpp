#include "jwt.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <stdexcept>

namespace fake_broker {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int DecodeChar(char c) {
    const auto at = kAlphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

}  // namespace

std::string HmacSha256(std::string_view key, std::string_view data) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data(),
             &length) == nullptr) {
        throw std::runtime_error("HMAC-SHA256 failed");
    }
    return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

std::string Base64UrlEncode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto byteAt = [&](std::size_t k) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k]));
    };
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t n = byteAt(i) << 16 | byteAt(i + 1) << 8 | byteAt(i + 2);
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
        out += kAlphabet[n >> 6 & 63];
        out += kAlphabet[n & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const std::uint32_t n = byteAt(i) << 16;
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
    } else if (rest == 2) {
        const std::uint32_t n = byteAt(i) << 16 | byteAt(i + 1) << 8;
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
        out += kAlphabet[n >> 6 & 63];
    }
    return out;
}

std::optional<std::string> Base64UrlDecode(std::string_view text) {
    while (!text.empty() && text.back() == '=') {
        text.remove_suffix(1);
    }
    if (text.size() % 4 == 1) {
        return std::nullopt;
    }
    std::string out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const char c : text) {
        const int value = DecodeChar(c);
        if (value < 0) {
            return std::nullopt;
        }
        buffer = buffer << 6 | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(buffer >> bits & 0xFF);
        }
    }
    return out;
}

std::optional<JwtAlgorithm> ParseJwtAlgorithm(std::string_view name) {
    if (name == "none") {
        return JwtAlgorithm::None;
    }
    if (name == "HS256") {
        return JwtAlgorithm::Hs256;
    }
    return std::nullopt;
}

std::string_view JwtAlgorithmName(JwtAlgorithm algorithm) {
    return algorithm == JwtAlgorithm::None ? "none" : "HS256";
}

std::string BuildJwt(const nlohmann::json& payload, JwtAlgorithm algorithm,
                     std::string_view secret) {
    const nlohmann::json header = {{"alg", JwtAlgorithmName(algorithm)}, {"typ", "JWT"}};
    std::string signingInput =
        Base64UrlEncode(header.dump()) + "." + Base64UrlEncode(payload.dump());
    std::string signature;
    if (algorithm == JwtAlgorithm::Hs256) {
        signature = Base64UrlEncode(HmacSha256(secret, signingInput));
    }
    return signingInput + "." + signature;
}

nlohmann::json AccessTokenPayload(const AccessTokenClaims& claims) {
    nlohmann::json payload = {
        {"iss", claims.issuer},
        {"sub", claims.subject},
        {"iat", claims.issuedAt},
        {"exp", claims.issuedAt + claims.lifetime},
        {"azp", claims.clientId},
        {claims.claimsOrigin + "/tokenID", claims.tokenId},
        {claims.claimsOrigin + "/privileges", claims.privileges},
    };
    if (!claims.audience.empty()) {
        payload["aud"] = claims.audience;
    }
    if (!claims.scope.empty()) {
        payload["scope"] = claims.scope;
    }
    return payload;
}

}  // namespace fake_broker
