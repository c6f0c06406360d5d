#include "auth/sign_in_flow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "auth/authorization_request.h"
#include "base/morva_error.h"
#include "util/utf.h"

namespace morva {
namespace {

using testing::ThrowsMessage;

AuthConfig Config(std::string clientId = "ABC") {
    return {u"MORVA_Orderbook", u"login.morva.example", std::move(clientId),
            u"morva://login.morva.example/metatrader/morva/callback"};
}

AuthorizationRequest Request() {
    return {"st+te", "verifier", "ch/llenge"};
}

TEST(CodeChallenge, IsTheS256OfTheVerifier) {
    // RFC 7636, appendix B.
    EXPECT_EQ(CodeChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(AuthorizationRequest, IsFreshEachTimeWithAVerifierOfUnreservedCharacters) {
    const AuthorizationRequest first = AuthorizationRequest::Create();
    const AuthorizationRequest second = AuthorizationRequest::Create();
    EXPECT_EQ(first.state.size(), 43u);
    EXPECT_EQ(first.codeVerifier.size(), 43u);
    EXPECT_EQ(first.codeVerifier.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                   "abcdefghijklmnopqrstuvwxyz0123456789-._~"),
              std::string::npos);
    EXPECT_EQ(first.codeChallenge, CodeChallengeOf(first.codeVerifier));
    EXPECT_NE(first.state, second.state);
    EXPECT_NE(first.codeVerifier, second.codeVerifier);
    EXPECT_NE(first.state, first.codeVerifier);
}

// The host as stored, the client ID encoded.
TEST(SignInAuthorizeUrl, IsTheCodeFlowWithStateAndS256Challenge) {
    AuthConfig config = Config("a b/c");
    config.authHost = u"Login.Example:8443";
    EXPECT_EQ(BuildAuthorizeUrl(config, Request()),
              u"https://Login.Example:8443/authorize?response_type=code&client_id=a%20b%2Fc"
              u"&redirect_uri=morva%3A%2F%2Flogin.morva.example%2Fmetatrader%2Fmorva%2Fcallback"
              u"&scope=openid%20offline_access&state=st%2Bte&code_challenge=ch%2Fllenge"
              u"&code_challenge_method=S256");
}

TEST(SignInRedirect, IsRecognisedByItsPrefixAloneAndCaseSensitively) {
    const std::u16string redirect = Config().redirectUri;
    EXPECT_TRUE(IsRedirect(redirect, redirect));
    EXPECT_TRUE(IsRedirect(redirect + u"?code=abc", redirect));
    EXPECT_FALSE(
        IsRedirect(u"https://login.morva.example/authorize?redirect_uri=" + redirect, redirect));
    EXPECT_FALSE(IsRedirect(u" " + redirect, redirect));
    EXPECT_FALSE(IsRedirect(u"morva://login.morva.example/metatrader/morva/callbac", redirect));
    EXPECT_FALSE(
        IsRedirect(u"MORVA://login.morva.example/metatrader/morva/callback?code=abc", redirect));
}

// What the state machine makes of a redirect that carries the state it sent.
std::u16string CodeOf(std::u16string_view redirect) {
    return ReadAuthorizationCode(redirect, "s1");
}

TEST(SignInRedirectCode, IsTheLastCodeOfTheQueryPercentDecoded) {
    EXPECT_EQ(CodeOf(u"morva://h/cb?code=abc&state=s1"), u"abc");
    EXPECT_EQ(CodeOf(u"morva://h/cb?state=s1&code=abc&x"), u"abc");
    EXPECT_EQ(CodeOf(u"morva://h/cb?code=first&code=last&state=s1"), u"last");
    EXPECT_EQ(CodeOf(u"morva://h/cb?code=a%2Fb%2Bc%3D%3D&state=s%31"), u"a/b+c==");
    EXPECT_EQ(CodeOf(u"morva://h/cb?state=s1"), u"");
}

// An error wins over a code, wherever each stands.
TEST(SignInRedirectError, CarriesTheDecodedDescriptionOrSaysThereIsNone) {
    const struct {
        std::u16string query;
        std::string text;
    } cases[] = {
        {u"error=access_denied&state=s1", "access_denied (no description)"},
        {u"error=access_denied&error_description=The%20user%20denied%20access&state=s1",
         "access_denied (The user denied access)"},
        {u"state=s1&error=server_error&code=abc", "server_error (no description)"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT([&] { CodeOf(u"morva://h/cb?" + c.query); },
                    ThrowsMessage<MorvaError>("Authorization error: " + c.text));
    }
}

// Someone else's redirect: its code is not taken, and its error and description are not shown.
TEST(SignInRedirectState, ThatIsWrongOrMissingRefusesTheRedirect) {
    for (const char16_t* redirect : {
             u"morva://h/cb?code=abc",
             u"morva://h/cb?code=abc&state=s2",
             u"morva://h/cb?code=abc&state=S1",
             u"morva://h/cb?code=abc&state=s1x",
             u"morva://h/cb?code=abc&state=",
             u"morva://h/cb?error=access_denied&error_description=Call%20555-0100&state=x",
         }) {
        EXPECT_THAT([&] { CodeOf(redirect); },
                    ThrowsMessage<MorvaError>(
                        "Authorization refused: the sign-in page answered with a wrong state"))
            << Utf16ToUtf8(redirect);
    }
    EXPECT_THAT([] { ReadAuthorizationCode(u"morva://h/cb?code=abc&state=", ""); },
                ThrowsMessage<MorvaError>(testing::StartsWith("Authorization refused")));
}

TEST(SignInNewWindow, IsFollowedToWebPagesAndTheRedirectOnly) {
    const std::u16string redirect = Config().redirectUri;
    EXPECT_TRUE(FollowsNewWindow(redirect + u"?code=abc&state=s1", redirect));
    EXPECT_TRUE(FollowsNewWindow(u"https://login.morva.example/help", redirect));
    EXPECT_TRUE(FollowsNewWindow(u"http://example.org/", redirect));
    for (const char16_t* uri : {u"", u"about:blank", u"javascript:alert(1)", u"data:text/html,x",
                                u"file:///etc/passwd", u"morva://elsewhere/callback"}) {
        EXPECT_FALSE(FollowsNewWindow(uri, redirect)) << Utf16ToUtf8(uri);
    }
}

}  // namespace
}  // namespace morva
