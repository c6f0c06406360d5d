// The token client against the fake broker's token endpoint over the platform transport: real
// token responses, real JWTs, real error bodies. Runs inside scripts/sandbox.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "auth/http_auth_client.h"
#include "base/morva_error.h"
#include "config/deployment_settings.h"
#include "http/http_client.h"

namespace morva {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

HttpAuthClient Client() {
    static const std::shared_ptr<HttpClient> http = CreatePlatformHttpClient();
    return HttpAuthClient(deployment::kProductionAuthHost, deployment::kProductionClientId, http);
}

TEST(TokenEndpoint, IssuesTokensWhoseClaimsTheLibraryReads) {
    const auto before = std::chrono::steady_clock::now();
    const AuthTokens tokens = Client().GetAuthTokensBySecret("https://api/", "m2m-secret");
    const AccessToken& access = tokens.accessToken;
    EXPECT_EQ(access.tokenType, "Bearer");
    EXPECT_GT(access.expiresIn, 0);
    EXPECT_GE(access.expiresAt, before + std::chrono::seconds(access.expiresIn));
    EXPECT_LE(access.expiresAt,
              std::chrono::steady_clock::now() + std::chrono::seconds(access.expiresIn));
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
    try {
        Client().GetAuthTokensByRefreshToken("never-issued");
        FAIL() << "an unknown refresh token was accepted";
    } catch (const MorvaError& e) {
        EXPECT_THAT(e.what(), StartsWith("Get auth tokens by refresh token failed (HTTP 400): "
                                         "invalid_grant"));
    }
    try {
        Client().GetAuthTokensByCode("morva://elsewhere/callback", "never-issued");
        FAIL() << "an unknown code was accepted";
    } catch (const MorvaError& e) {
        EXPECT_THAT(e.what(),
                    HasSubstr("Get auth tokens by code failed (HTTP 400): invalid_grant"));
    }
}

}  // namespace
}  // namespace morva
