#include "auth/jwt.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <string>

#include "auth/base64.h"
#include "base/morva_error.h"
#include "config/deployment_settings.h"
#include "util/json_number.h"
#include "util/no_destructor.h"

namespace morva {

namespace {

using Json = nlohmann::json;

const Json* Member(const Json& holder, const char* name) {
    if (!holder.is_object()) {
        return nullptr;
    }
    const auto found = holder.find(name);
    return found == holder.end() ? nullptr : &*found;
}

std::string StringClaim(const Json& holder, const char* name) {
    const Json* member = Member(holder, name);
    return member != nullptr ? member->get<std::string>() : std::string();
}

std::optional<std::int64_t> TimeClaim(const Json& holder, const char* name) {
    const Json* member = Member(holder, name);
    if (member == nullptr) {
        return std::nullopt;
    }
    return JsonNumberToInt64(*member);
}

std::optional<std::int32_t> PremiumClaim(const Json* privileges, const char* account) {
    const Json* section = privileges != nullptr ? Member(*privileges, account) : nullptr;
    const Json* flag = section != nullptr ? Member(*section, "canAccessPremium") : nullptr;
    if (flag == nullptr) {
        return std::nullopt;
    }
    if (flag->is_boolean()) {
        return flag->get<bool>() ? 1 : 0;
    }
    return JsonNumberToInt32(*flag);
}

JwtHeader ReadHeader(const Json& json) {
    JwtHeader header;
    header.alg = StringClaim(json, "alg");
    header.typ = StringClaim(json, "typ");
    return header;
}

JwtPayload ReadPayload(const Json& json) {
    // Never destroyed: a sign-in thread may still parse a token while the process exits.
    static NoDestructor<const std::string> tokenIdClaim(std::string(deployment::kClaimsOrigin) +
                                                        "/tokenID");
    static NoDestructor<const std::string> privilegesClaim(std::string(deployment::kClaimsOrigin) +
                                                           "/privileges");

    JwtPayload payload;
    payload.sub = StringClaim(json, "sub");
    payload.iss = StringClaim(json, "iss");
    payload.iat = TimeClaim(json, "iat");
    payload.exp = TimeClaim(json, "exp");
    payload.tokenId = StringClaim(json, tokenIdClaim->c_str());
    const Json* privileges = Member(json, privilegesClaim->c_str());
    payload.liveCanAccessPremium = PremiumClaim(privileges, "live");
    payload.demoCanAccessPremium = PremiumClaim(privileges, "demo");
    return payload;
}

template <class Record, class Reader>
Record DecodeSegment(std::string_view segment, Reader read, const char* failure) {
    try {
        return read(Json::parse(DecodeBase64Url(segment)));
    } catch (const std::exception& e) {
        throw MorvaError(failure, e.what());
    }
}

}  // namespace

Jwt ParseJwt(std::string_view token) {
    const std::size_t headerEnd = token.find('.');
    if (headerEnd == std::string_view::npos) {
        throw MorvaError("Failed to parse JWT token: header end not found");
    }
    Jwt jwt;
    jwt.header = DecodeSegment<JwtHeader>(token.substr(0, headerEnd), ReadHeader,
                                          "Failed to parse JWT token header: %s");

    const std::size_t payloadBegin = headerEnd + 1;
    if (payloadBegin == token.size()) {
        throw MorvaError("Failed to parse JWT token: payload begin not found");
    }
    const std::size_t payloadEnd = token.find('.', payloadBegin);
    if (payloadEnd == std::string_view::npos) {
        throw MorvaError("Failed to parse JWT token: payload end not found");
    }
    jwt.payload = DecodeSegment<JwtPayload>(token.substr(payloadBegin, payloadEnd - payloadBegin),
                                            ReadPayload, "Failed to parse JWT token payload: %s");
    return jwt;
}

}  // namespace morva
