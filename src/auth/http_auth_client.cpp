#include "auth/http_auth_client.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>
#include <vector>

#include "auth/jwt.h"
#include "base/morva_error.h"
#include "http/http_headers.h"
#include "http/http_request.h"
#include "util/json_number.h"

namespace morva {

namespace auth_detail {

using Json = nlohmann::json;

namespace {

constexpr std::string_view kTokenMembers[] = {"access_token", "refresh_token", "id_token"};

bool NamesAToken(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return std::any_of(std::begin(kTokenMembers), std::end(kTokenMembers),
                       [&](std::string_view name) { return text.find(name) != text.npos; });
}

// The raw text catches what is not JSON; the decoded names and texts catch escapes such as
// "access\u005ftoken". Walked without recursion: the server decides how deep the body nests.
bool HoldsTokenMember(const std::string& text, const Json& body) {
    if (NamesAToken(text)) {
        return true;
    }
    std::vector<const Json*> pending{&body};
    while (!pending.empty()) {
        const Json& value = *pending.back();
        pending.pop_back();
        if (value.is_object()) {
            for (auto member = value.begin(); member != value.end(); ++member) {
                if (NamesAToken(member.key())) {
                    return true;
                }
                pending.push_back(&member.value());
            }
        } else if (value.is_array()) {
            for (const Json& element : value) {
                pending.push_back(&element);
            }
        } else if (value.is_string() && NamesAToken(value.get_ref<const std::string&>())) {
            return true;
        }
    }
    return false;
}

bool IsRefusal(std::int32_t status) {
    return status == 400 || status == 401 || status == 403;
}

}  // namespace

void CheckTokenResponse(const char* operation, const HttpResponse& response) {
    if (response.status == 200) {
        return;
    }
    Json body;
    try {
        body = Json::parse(response.body);
    } catch (const std::exception&) {
        // Not JSON: the text alone is searched, and quoted as it stands.
    }
    if (HoldsTokenMember(response.body, body)) {
        // The reason is logged on every poll and shown to the user: no token may ride along.
        if (IsRefusal(response.status)) {
            throw GrantRefusedError("%s failed (HTTP %d)", operation, response.status);
        }
        throw MorvaError("%s failed (HTTP %d)", operation, response.status);
    }
    std::string reason = response.body;
    try {
        if (body.is_object() && body.contains("error")) {
            reason = body.at("error").get<std::string>();
            if (body.contains("error_description")) {
                reason += " (" + body.at("error_description").get<std::string>() + ")";
            }
        }
    } catch (const std::exception&) {
        // Members that are not text: the body says it best as it stands.
        reason = response.body;
    }
    if (IsRefusal(response.status)) {
        throw GrantRefusedError("%s failed (HTTP %d): %s", operation, response.status, reason);
    }
    throw MorvaError("%s failed (HTTP %d): %s", operation, response.status, reason);
}

AuthTokens ParseAuthTokens(const HttpResponse& response,
                           std::chrono::steady_clock::time_point requestInstant,
                           const std::optional<std::string>& fallbackRefreshToken) {
    Json body;
    try {
        body = Json::parse(response.body);
    } catch (const Json::parse_error& e) {
        // The library's own text quotes the bytes it stopped at: part of a token, perhaps.
        throw std::runtime_error("syntax error in the token response at byte " +
                                 std::to_string(e.byte));
    }
    AuthTokens tokens;
    AccessToken& access = tokens.accessToken;
    access.tokenType = body.at("token_type").get<std::string>();
    access.token = body.at("access_token").get<std::string>();
    const Json& expiresIn = body.at("expires_in");
    access.expiresIn =
        expiresIn.is_boolean() ? (expiresIn.get<bool>() ? 1 : 0) : JsonNumberToInt32(expiresIn);
    access.expiresAt = requestInstant + std::chrono::seconds(std::int64_t{access.expiresIn});
    access.jwt = ParseJwt(access.token);

    if (const auto refresh = body.find("refresh_token"); refresh != body.end()) {
        tokens.refreshToken = refresh->get<std::string>();
    } else if (fallbackRefreshToken) {
        tokens.refreshToken = *fallbackRefreshToken;
    }
    return tokens;
}

}  // namespace auth_detail

struct HttpAuthClient::Grant {
    const char* operation;
    const char* parseFailure;
    std::optional<std::string> fallbackRefreshToken;
};

HttpAuthClient::HttpAuthClient(std::u16string host, std::string clientId,
                               std::shared_ptr<HttpClient> http, std::shared_ptr<const Clock> clock)
    : host_(std::move(host)),
      clientId_(std::move(clientId)),
      http_(std::move(http)),
      clock_(std::move(clock)) {}

namespace {

// Compact, members in byte order of their names (the JSON library keeps objects sorted), UTF-8 as
// is; text that is not UTF-8 is replaced rather than failing the request.
std::string SerializeBody(const nlohmann::json& body) {
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

AuthTokens HttpAuthClient::GetAuthTokensByCode(const std::string& redirectUri,
                                               const std::string& code,
                                               const std::string& codeVerifier) {
    const Grant grant{"Get auth tokens by code", "Failed to parse auth tokens received by code: %s",
                      std::nullopt};
    return RequestTokens(grant, SerializeBody({{"client_id", clientId_},
                                               {"code", code},
                                               {"code_verifier", codeVerifier},
                                               {"grant_type", "authorization_code"},
                                               {"redirect_uri", redirectUri}}));
}

AuthTokens HttpAuthClient::GetAuthTokensByRefreshToken(const std::string& refreshToken) {
    const Grant grant{"Get auth tokens by refresh token",
                      "Failed to parse auth tokens received by refresh token: %s", refreshToken};
    return RequestTokens(grant, SerializeBody({{"client_id", clientId_},
                                               {"grant_type", "refresh_token"},
                                               {"refresh_token", refreshToken}}));
}

AuthTokens HttpAuthClient::GetAuthTokensBySecret(const std::string& audience,
                                                 const std::string& clientSecret) {
    const Grant grant{"Get auth tokens by M2M secret",
                      "Failed to parse auth tokens received by client secret: %s", std::nullopt};
    return RequestTokens(grant, SerializeBody({{"audience", audience},
                                               {"client_id", clientId_},
                                               {"client_secret", clientSecret},
                                               {"grant_type", "client_credentials"}}));
}

AuthTokens HttpAuthClient::RequestTokens(const Grant& grant, std::string body) const {
    HttpRequest request;
    request.host = host_;
    request.port = 443;
    request.path = u"/oauth/token";
    request.headers = JsonExchangingHeaders();
    request.body = std::move(body);
    // A token response is a few kilobytes; nothing bigger is one.
    request.maxResponseBytes = 1024 * 1024;

    // Read before sending: the exchange's own duration counts against the token's lifetime.
    const auto requestInstant = clock_->SteadyNow();
    const HttpResponse response = http_->Send(u"POST", request);
    auth_detail::CheckTokenResponse(grant.operation, response);
    try {
        return auth_detail::ParseAuthTokens(response, requestInstant, grant.fallbackRefreshToken);
    } catch (const std::exception& e) {
        throw MorvaError(grant.parseFailure, e.what());
    }
}

}  // namespace morva
