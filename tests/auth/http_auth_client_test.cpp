#include "auth/http_auth_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "base/morva_error.h"
#include "support/fake_clock.h"
#include "support/fake_http_client.h"
#include "support/jwt_builder.h"

namespace morva {
namespace {

using test::MakeResponse;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

const std::string kAccessToken = test::MakeJwt(R"({"sub":"auth0|7","iss":"https://login/"})");

std::string TokenBody(const std::string& extra, const std::string& expiresIn = "3600") {
    return R"({"token_type":"Bearer","access_token":")" + kAccessToken + R"(","expires_in":)" +
           expiresIn + extra + "}";
}

class HttpAuthClientTest : public ::testing::Test {
  protected:
    std::shared_ptr<test::FakeHttpClient> http_ = std::make_shared<test::FakeHttpClient>();
    std::shared_ptr<test::FakeClock> clock_ = std::make_shared<test::FakeClock>();
    HttpAuthClient client_{u"login.morva.example", "CLIENT32", http_, clock_};

    // The code grant answered with `response` fails with a message that `matcher` accepts.
    template <class Matcher>
    void ExpectCodeGrantFails(HttpResponse response, Matcher matcher) {
        http_->Enqueue(std::move(response));
        EXPECT_THAT([this] { client_.GetAuthTokensByCode("uri", "code", "verifier"); },
                    ThrowsMessage<MorvaError>(matcher));
    }
};

TEST_F(HttpAuthClientTest, EachGrantPostsItsCompactSortedBody) {
    for (int i = 0; i < 3; ++i) {
        http_->Enqueue(MakeResponse(200, TokenBody("")));
    }
    client_.GetAuthTokensByCode("morva://login.morva.example/metatrader/morva/callback", "c0de",
                                "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    client_.GetAuthTokensByRefreshToken("r-old");
    client_.GetAuthTokensBySecret("https://api/", "s3cret");

    const auto requests = http_->Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& [method, request] : requests) {
        EXPECT_EQ(method, u"POST");
        EXPECT_EQ(request.host, u"login.morva.example");
        EXPECT_EQ(request.port, 443);
        EXPECT_EQ(request.path, u"/oauth/token");
        EXPECT_EQ(request.headers.size(), 2u);
        EXPECT_EQ(request.headers.at(u"Accept"), u"application/json");
        EXPECT_EQ(request.headers.at(u"Content-Type"), u"application/json");
        EXPECT_EQ(request.maxResponseBytes, 1u << 20);
        EXPECT_EQ(request.timeLimit, std::chrono::seconds(120));
    }
    EXPECT_EQ(requests[0].request.body,
              R"({"client_id":"CLIENT32","code":"c0de",)"
              R"("code_verifier":"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk",)"
              R"("grant_type":"authorization_code",)"
              R"("redirect_uri":"morva://login.morva.example/metatrader/morva/callback"})");
    EXPECT_EQ(requests[1].request.body,
              R"({"client_id":"CLIENT32","grant_type":"refresh_token","refresh_token":"r-old"})");
    EXPECT_EQ(requests[2].request.body,
              R"({"audience":"https://api/","client_id":"CLIENT32","client_secret":"s3cret",)"
              R"("grant_type":"client_credentials"})");
}

TEST_F(HttpAuthClientTest, ReadsTheTokensAndCountsLifetimeFromBeforeTheRequest) {
    const auto before = clock_->SteadyNow();
    http_->EnqueueResponder([this](const std::u16string&, const HttpRequest&) {
        clock_->Advance(std::chrono::seconds(5));  // the exchange itself takes time
        return MakeResponse(200, TokenBody(R"(,"refresh_token":"r-new")", "3600.9"));
    });
    const AuthTokens tokens = client_.GetAuthTokensByCode("uri", "code", "verifier");
    EXPECT_EQ(tokens.refreshToken, "r-new");
    EXPECT_EQ(tokens.accessToken.tokenType, "Bearer");
    EXPECT_EQ(tokens.accessToken.token, kAccessToken);
    EXPECT_EQ(tokens.accessToken.expiresIn, 3600);  // truncated
    EXPECT_EQ(tokens.accessToken.expiresAt, before + std::chrono::seconds(3600));
    EXPECT_EQ(tokens.accessToken.jwt.payload.sub, "auth0|7");

    // Without a refresh token only the refresh grant falls back on the one it sent.
    http_->Enqueue(MakeResponse(200, TokenBody("", "true")));
    const AuthTokens bySecret = client_.GetAuthTokensBySecret("aud", "secret");
    EXPECT_EQ(bySecret.accessToken.expiresIn, 1);
    EXPECT_EQ(bySecret.refreshToken, "");
    http_->Enqueue(MakeResponse(200, TokenBody("")));
    EXPECT_EQ(client_.GetAuthTokensByRefreshToken("r-sent").refreshToken, "r-sent");
    http_->Enqueue(MakeResponse(200, TokenBody("", "\"3600\"")));
    EXPECT_THAT([this] { client_.GetAuthTokensByRefreshToken("r"); },
                ThrowsMessage<MorvaError>(
                    StartsWith("Failed to parse auth tokens received by refresh token: ")));
}

// One of each kind: a token that is no JWT, a missing member, a body that is no JSON.
TEST_F(HttpAuthClientTest, ParseFailuresCarryTheGrantsMessage) {
    ExpectCodeGrantFails(
        MakeResponse(200, R"({"token_type":"Bearer","access_token":"opaque","expires_in":60})"),
        "Failed to parse auth tokens received by code: Failed to parse JWT token: header end not "
        "found");

    http_->Enqueue(MakeResponse(200, R"({"access_token":"x","expires_in":60})"));
    EXPECT_THAT([this] { client_.GetAuthTokensBySecret("a", "s"); },
                ThrowsMessage<MorvaError>(
                    AllOf(StartsWith("Failed to parse auth tokens received by client secret: "),
                          HasSubstr("token_type"))));

    // A body cut short inside a token: the error names the place, never the token's text.
    ExpectCodeGrantFails(
        MakeResponse(200, R"({"token_type":"Bearer","refresh_token":"v1.SECRET-PART)"),
        AllOf(StartsWith("Failed to parse auth tokens received by code: "),
              Not(HasSubstr("SECRET"))));
}

// The server's error and description, or its body as it stands when it has no error member.
TEST_F(HttpAuthClientTest, OnlyStatus200Succeeds) {
    const struct {
        int status;
        std::string body;
        std::string reason;
    } cases[] = {
        {400,
         R"({"error":"invalid_grant","error_description":"Unknown or invalid refresh token."})",
         "invalid_grant (Unknown or invalid refresh token.)"},
        {500, R"({"error":"server_error"})", "server_error"},
    };
    for (const auto& c : cases) {
        ExpectCodeGrantFails(
            MakeResponse(c.status, c.body),
            "Get auth tokens by code failed (HTTP " + std::to_string(c.status) + "): " + c.reason);
    }
    http_->Enqueue(MakeResponse(403, "{}"));
    EXPECT_THAT([this] { client_.GetAuthTokensBySecret("a", "s"); },
                ThrowsMessage<MorvaError>("Get auth tokens by M2M secret failed (HTTP 403): {}"));
    http_->EnqueueFailure(MorvaError("Send HTTP request failed. [12029]"));
    EXPECT_THAT([this] { client_.GetAuthTokensByCode("uri", "code", "verifier"); },
                ThrowsMessage<MorvaError>("Send HTTP request failed. [12029]"));
}

// An unexpected status may still come with tokens: the failure, logged on every poll and shown
// to the user, then names the status alone.
const std::string kTokenMembers = R"(,"refresh_token":"r-secret","id_token":"i-secret")";

TEST_F(HttpAuthClientTest, AFailureQuotesNoBodyThatHoldsATokenMember) {
    struct Case {
        int status;
        std::string body;
    };
    const Case cases[] = {
        {201, TokenBody(kTokenMembers)},
        {400, R"({"error":"invalid_grant","id_token":"i-secret"})"},
        // Found by its decoded name only.
        {401, R"({"error":"x","error_description":"y","access_\u0074oken":"a-secret"})"},
        {502, R"({"id_token":"i-secret" cut short)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        ExpectCodeGrantFails(
            MakeResponse(c.status, c.body),
            "Get auth tokens by code failed (HTTP " + std::to_string(c.status) + ")");
    }
}

}  // namespace
}  // namespace morva
