// The token client against the fake broker's token endpoint over the platform transport: real
// token responses, real JWTs, real error bodies. Runs inside scripts/sandbox.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "auth/authorization_request.h"
#include "auth/http_auth_client.h"
#include "auth/sign_in_flow.h"
#include "base/morva_error.h"
#include "config/deployment_settings.h"
#include "e2e/broker_control.h"
#include "http/http_client.h"
#include "util/uri.h"
#include "util/utf.h"

namespace morva {
namespace {

using ::testing::StartsWith;
using ::testing::ThrowsMessage;

const std::shared_ptr<HttpClient>& Http() {
    static const std::shared_ptr<HttpClient> http = CreatePlatformHttpClient();
    return http;
}

HttpAuthClient Client() {
    return HttpAuthClient(deployment::kProductionAuthHost, deployment::kProductionClientId, Http());
}

const AuthConfig kAuth = {u"MORVA_Orderbook", deployment::kProductionAuthHost,
                          deployment::kProductionClientId,
                          u"morva://login.morva.example/metatrader/morva/callback"};

// The query of the redirect /authorize answers with (not followed, as the transport never does).
QueryMap Authorize(const std::u16string& url) {
    BrokerControl().Send("PUT", "/scenario", R"({"auth": {"authorizeMode": "auto"}})");
    HttpRequest request;
    request.host = kAuth.authHost;
    request.path = url.substr(url.find(u"/authorize"));
    const HttpResponse response = Http()->Send(u"GET", request);
    EXPECT_EQ(response.status, 302);
    const auto location = response.headers.find(u"Location");
    return location != response.headers.end() ? ParseQueryParameters(location->second) : QueryMap();
}

TEST(TokenEndpoint, IssuesTokensWhoseClaimsTheLibraryReads) {
    const AuthTokens tokens = Client().GetAuthTokensBySecret("https://api/", "m2m-secret");
    const AccessToken& access = tokens.accessToken;
    EXPECT_EQ(access.tokenType, "Bearer");
    EXPECT_GT(access.expiresIn, 0);
    EXPECT_THAT(access.jwt.payload.iss, StartsWith("https://"));
    EXPECT_FALSE(access.jwt.payload.sub.empty());
    EXPECT_FALSE(access.jwt.payload.tokenId.empty());
    ASSERT_TRUE(access.jwt.payload.iat.has_value());
    ASSERT_TRUE(access.jwt.payload.exp.has_value());
    EXPECT_EQ(*access.jwt.payload.exp - *access.jwt.payload.iat, access.expiresIn);
    EXPECT_TRUE(access.jwt.payload.liveCanAccessPremium.has_value());
    EXPECT_TRUE(access.jwt.payload.demoCanAccessPremium.has_value());
}

TEST(TokenEndpoint, RejectionsCarryTheServersReason) {
    EXPECT_THAT([] { Client().GetAuthTokensByRefreshToken("never-issued"); },
                ThrowsMessage<MorvaError>(StartsWith(
                    "Get auth tokens by refresh token failed (HTTP 400): invalid_grant")));
    EXPECT_THAT(
        [] {
            Client().GetAuthTokensByCode("morva://elsewhere/callback", "never-issued",
                                         AuthorizationRequest::Create().codeVerifier);
        },
        ThrowsMessage<MorvaError>(
            StartsWith("Get auth tokens by code failed (HTTP 400): invalid_grant")));
}

TEST(TokenEndpoint, ExchangesACodeOnlyForTheVerifierOfItsChallenge) {
    const AuthorizationRequest request = AuthorizationRequest::Create();
    const std::string redirect = Utf16ToUtf8(kAuth.redirectUri);
    const auto code = [&] {
        const QueryMap answer = Authorize(BuildAuthorizeUrl(kAuth, request));
        EXPECT_EQ(answer.at(u"state"), Utf8ToUtf16(request.state));
        return Utf16ToUtf8(answer.at(u"code"));
    };

    // Another sign-in's verifier, none, and the challenge itself (PKCE's "plain").
    for (const std::string& verifier :
         {AuthorizationRequest::Create().codeVerifier, std::string(), request.codeChallenge}) {
        EXPECT_THAT([&] { Client().GetAuthTokensByCode(redirect, code(), verifier); },
                    ThrowsMessage<MorvaError>(
                        "Get auth tokens by code failed (HTTP 400): invalid_grant (The "
                        "code_verifier does not match the code_challenge of the authorization "
                        "request)"))
            << verifier;
    }
    const AuthTokens tokens = Client().GetAuthTokensByCode(redirect, code(), request.codeVerifier);
    EXPECT_FALSE(tokens.accessToken.token.empty());
    EXPECT_FALSE(tokens.refreshToken.empty());
}

TEST(TokenEndpoint, AuthorizeWithoutAnS256ChallengeIsAnError) {
    std::u16string url = BuildAuthorizeUrl(kAuth, AuthorizationRequest::Create());
    url.replace(url.find(u"S256"), 4, u"plain");
    const QueryMap answer = Authorize(url);
    EXPECT_EQ(answer.count(u"code"), 0u);
    EXPECT_EQ(answer.at(u"error"), u"invalid_request");
}

}  // namespace
}  // namespace morva
