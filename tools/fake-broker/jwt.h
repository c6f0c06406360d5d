#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace fake_broker {

std::string Base64UrlEncode(std::string_view bytes);

// The raw 32-byte MAC.
std::string HmacSha256(std::string_view key, std::string_view data);
// Unpadded or padded input; nullopt for a character outside the URL-safe alphabet.
std::optional<std::string> Base64UrlDecode(std::string_view text);

enum class JwtAlgorithm { None, Hs256 };

std::optional<JwtAlgorithm> ParseJwtAlgorithm(std::string_view name);
std::string_view JwtAlgorithmName(JwtAlgorithm algorithm);

// header.payload.signature; with "none" the signature segment is empty.
std::string BuildJwt(const nlohmann::json& payload, JwtAlgorithm algorithm,
                     std::string_view secret);

struct AccessTokenClaims {
    std::string issuer;
    std::string subject;
    std::string audience;
    std::string clientId;
    std::string scope;
    std::string claimsOrigin;  // prefixes the namespaced claims, no trailing slash
    std::string tokenId;
    nlohmann::json privileges;  // {"live": {"canAccessPremium": ...}, "demo": {...}}
    std::int64_t issuedAt = 0;
    std::int64_t lifetime = 0;
};

nlohmann::json AccessTokenPayload(const AccessTokenClaims& claims);

}  // namespace fake_broker
