#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "auth/auth_client.h"
#include "http/http_client.h"
#include "http/http_response.h"
#include "util/clock.h"

namespace morva {

namespace auth_detail {

// Returns for status 200; otherwise throws "<operation> failed (HTTP <status>): <reason>", the
// reason being the body's "error" (with " (<error_description>)") or else the whole body. A body
// that names access_token, refresh_token or id_token anywhere is never quoted: the text ends
// after the status. 400, 401 and 403 throw GrantRefusedError, every other status MorvaError.
void CheckTokenResponse(const char* operation, const HttpResponse& response);

// Reads a 200 token response. expiresAt counts from `requestInstant`; a response without
// "refresh_token" keeps `fallbackRefreshToken` (or none). Throws std::exception-derived errors
// whose texts never quote the body, since it carries the tokens.
AuthTokens ParseAuthTokens(const HttpResponse& response,
                           std::chrono::steady_clock::time_point requestInstant,
                           const std::optional<std::string>& fallbackRefreshToken);

}  // namespace auth_detail

// AuthClient over the shared HTTPS transport, posting JSON to "/oauth/token" on the
// authorization host. Immutable after construction, so any thread may call it.
class HttpAuthClient final : public AuthClient {
  public:
    HttpAuthClient(std::u16string host, std::string clientId, std::shared_ptr<HttpClient> http,
                   std::shared_ptr<const Clock> clock = RealClock());

    AuthTokens GetAuthTokensByCode(const std::string& redirectUri, const std::string& code,
                                   const std::string& codeVerifier) override;
    AuthTokens GetAuthTokensByRefreshToken(const std::string& refreshToken) override;
    AuthTokens GetAuthTokensBySecret(const std::string& audience,
                                     const std::string& clientSecret) override;

  private:
    struct Grant;

    AuthTokens RequestTokens(const Grant& grant, std::string body) const;

    const std::u16string host_;
    const std::string clientId_;
    const std::shared_ptr<HttpClient> http_;
    const std::shared_ptr<const Clock> clock_;
};

}  // namespace morva
