#include "auth/jwt.h"

#include <cmath>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "auth/base64.h"
#include "config/deployment_settings.h"
#include "host/morva_error.h"

namespace morva {

namespace jwt_detail {

namespace {

using Json = nlohmann::json;

[[noreturn]] void ThrowNotNumber(const Json& value) {
    throw Json::type_error::create(
        302, "type must be number, but is " + std::string(value.type_name()), &value);
}

// A fraction is cut toward zero; a value the target cannot hold is refused rather than converted
// with undefined behaviour.
template <class Int>
Int TruncateFloat(const Json& value) {
    const double whole = std::trunc(value.get<double>());
    // The bounds as doubles: the lower one is exact, the upper one is 2^(bits-1).
    constexpr double kLower = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double kUpper = -kLower;
    if (!(whole >= kLower && whole < kUpper)) {
        throw Json::out_of_range::create(406, "number overflow: " + value.dump(), &value);
    }
    return static_cast<Int>(whole);
}

}  // namespace

std::int64_t NumberToInt64(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
            return value.get<std::int64_t>();
        case Json::value_t::number_float:
            return TruncateFloat<std::int64_t>(value);
        default:
            ThrowNotNumber(value);
    }
}

std::int32_t NumberToInt32(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
            return static_cast<std::int32_t>(value.get<std::int64_t>());
        case Json::value_t::number_float:
            return TruncateFloat<std::int32_t>(value);
        default:
            ThrowNotNumber(value);
    }
}

}  // namespace jwt_detail

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
    return jwt_detail::NumberToInt64(*member);
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
    return jwt_detail::NumberToInt32(*flag);
}

JwtHeader ReadHeader(const Json& json) {
    JwtHeader header;
    header.alg = StringClaim(json, "alg");
    header.typ = StringClaim(json, "typ");
    return header;
}

JwtPayload ReadPayload(const Json& json) {
    static const std::string kTokenIdClaim = std::string(deployment::kClaimsOrigin) + "/tokenID";
    static const std::string kPrivilegesClaim =
        std::string(deployment::kClaimsOrigin) + "/privileges";

    JwtPayload payload;
    payload.sub = StringClaim(json, "sub");
    payload.iss = StringClaim(json, "iss");
    payload.iat = TimeClaim(json, "iat");
    payload.exp = TimeClaim(json, "exp");
    payload.tokenId = StringClaim(json, kTokenIdClaim.c_str());
    const Json* privileges = Member(json, kPrivilegesClaim.c_str());
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
