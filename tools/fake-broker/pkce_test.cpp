#include "pkce.h"

#include <gtest/gtest.h>

#include <string>

namespace fake_broker {
namespace {

// RFC 7636, appendix B.
constexpr std::string_view kVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
constexpr std::string_view kChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";

TEST(Pkce, S256ChallengeIsTheRfcExample) {
    EXPECT_EQ(S256Challenge(kVerifier), kChallenge);
}

TEST(Pkce, OnlyTheWellFormedVerifierOfTheChallengeMatches) {
    EXPECT_TRUE(VerifierMatches(kVerifier, kChallenge));
    EXPECT_FALSE(VerifierMatches("", S256Challenge("")));
    EXPECT_FALSE(VerifierMatches(kVerifier, ""));
    EXPECT_FALSE(VerifierMatches(kChallenge, kChallenge));  // the "plain" method is not offered
    const std::string shortOne(42, 'a');
    const std::string longOne(129, 'a');
    const std::string spaced = std::string(42, 'a') + " ";
    for (const std::string& verifier : {shortOne, longOne, spaced}) {
        EXPECT_FALSE(VerifierMatches(verifier, S256Challenge(verifier))) << verifier;
    }
    const std::string longest(128, '~');
    EXPECT_TRUE(VerifierMatches(longest, S256Challenge(longest)));
}

}  // namespace
}  // namespace fake_broker
