#include "auth/authorization_request.h"

#include <gtest/gtest.h>

#include <string>

namespace morva {
namespace {

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

}  // namespace
}  // namespace morva
