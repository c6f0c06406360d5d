#include "auth/sign_in_flow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "base/morva_error.h"

namespace morva {
namespace {

using testing::ThrowsMessage;

AuthConfig Config(std::string clientId = "ABC") {
    return {u"MORVA_Orderbook", u"login.morva.example", std::move(clientId),
            u"morva://login.morva.example/metatrader/morva/callback"};
}

TEST(SignInAuthorizeUrl, IsThePlainCodeFlowWithEncodedRedirectAndScope) {
    EXPECT_EQ(BuildAuthorizeUrl(Config()),
              u"https://login.morva.example/authorize?response_type=code&client_id=ABC"
              u"&redirect_uri=morva%3A%2F%2Flogin.morva.example%2Fmetatrader%2Fmorva%2Fcallback"
              u"&scope=openid%20offline_access");
}

TEST(SignInAuthorizeUrl, EncodesTheClientIdAndKeepsTheHostAsStored) {
    AuthConfig config = Config("a b/c");
    config.authHost = u"Login.Example:8443";
    EXPECT_TRUE(BuildAuthorizeUrl(config).starts_with(
        u"https://Login.Example:8443/authorize?response_type=code&client_id="));
    EXPECT_NE(BuildAuthorizeUrl(config).find(u"&client_id=a%20b%2Fc&"), std::u16string::npos);
}

TEST(SignInRedirect, IsRecognisedByItsPrefixAlone) {
    const std::u16string redirect = Config().redirectUri;
    EXPECT_TRUE(IsRedirect(redirect, redirect));
    EXPECT_TRUE(IsRedirect(redirect + u"?code=abc", redirect));
    EXPECT_TRUE(IsRedirect(redirect + u"/more#x", redirect));
    EXPECT_FALSE(
        IsRedirect(u"https://login.morva.example/authorize?redirect_uri=" + redirect, redirect));
    EXPECT_FALSE(IsRedirect(u" " + redirect, redirect));
    EXPECT_FALSE(IsRedirect(u"morva://login.morva.example/metatrader/morva/callbac", redirect));
}

TEST(SignInRedirect, ComparesCaseSensitively) {
    EXPECT_FALSE(IsRedirect(u"MORVA://login.morva.example/metatrader/morva/callback?code=abc",
                            Config().redirectUri));
}

TEST(SignInRedirectCode, IsTakenFromTheQuery) {
    EXPECT_EQ(ReadAuthorizationCode(u"morva://h/cb?code=abc"), u"abc");
    EXPECT_EQ(ReadAuthorizationCode(u"morva://h/cb?state=1&code=abc&x"), u"abc");
    EXPECT_EQ(ReadAuthorizationCode(u"morva://h/cb?code=first&code=last"), u"last");
}

TEST(SignInRedirectCode, IsPercentDecoded) {
    EXPECT_EQ(ReadAuthorizationCode(u"morva://h/cb?code=a%2Fb%2Bc%3D%3D"), u"a/b+c==");
}

TEST(SignInRedirectCode, IsEmptyWithoutCodeOrQuery) {
    EXPECT_EQ(ReadAuthorizationCode(u"morva://h/cb"), u"");
    EXPECT_EQ(ReadAuthorizationCode(u"morva://h/cb?state=1"), u"");
}

TEST(SignInRedirectError, WithoutDescriptionSaysSo) {
    EXPECT_THAT([] { ReadAuthorizationCode(u"morva://h/cb?error=access_denied"); },
                ThrowsMessage<MorvaError>("Authorization error: access_denied (no description)"));
}

TEST(SignInRedirectError, CarriesTheDecodedDescription) {
    EXPECT_THAT(
        [] {
            ReadAuthorizationCode(
                u"morva://h/cb?error=access_denied&error_description=The%20user%20denied%20access");
        },
        ThrowsMessage<MorvaError>("Authorization error: access_denied (The user denied access)"));
}

TEST(SignInRedirectError, WinsOverACode) {
    EXPECT_THAT([] { ReadAuthorizationCode(u"morva://h/cb?code=abc&error=server_error"); },
                ThrowsMessage<MorvaError>("Authorization error: server_error (no description)"));
    EXPECT_THAT([] { ReadAuthorizationCode(u"morva://h/cb?error=server_error&code=abc"); },
                ThrowsMessage<MorvaError>("Authorization error: server_error (no description)"));
}

TEST(SignInCompletionPage, IsOneFragmentWithoutWhitespaceBetweenElements) {
    EXPECT_EQ(kCompletionPage,
              u"<div style=\"text-align:center;margin-top:50px;\"><h1>Completed authorization</h1>"
              u"<p>Please close the window.</p></div>");
}

TEST(SignInDataFolder, IsNamedAfterTheSecondsInTheTemporaryDirectory) {
    const auto now =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000999));
    const std::filesystem::path folder = SignInDataFolder(now);
    EXPECT_EQ(folder.parent_path() / "x", std::filesystem::temp_directory_path() / "x");
    EXPECT_EQ(folder.filename().string(), "MORVA_Orderbook_WebView_1700000000");
}

}  // namespace
}  // namespace morva
