#include "jwt.h"

#include <gtest/gtest.h>

#include <vector>

namespace fake_broker {
namespace {

std::vector<std::string> Split(const std::string& token) {
    std::vector<std::string> parts(1);
    for (const char c : token) {
        if (c == '.') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

AccessTokenClaims SampleClaims() {
    AccessTokenClaims claims;
    claims.issuer = "https://login.morva.example/";
    claims.subject = "morva|7";
    claims.clientId = "k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0SaW";
    claims.claimsOrigin = "https://www.morva.example";
    claims.tokenId = "tid-1";
    claims.privileges = {{"live", {{"canAccessPremium", 1}}}};
    claims.issuedAt = 1700000000;
    claims.lifetime = 3600;
    return claims;
}

TEST(Base64Url, EncodesTheRfcVectorsWithoutPadding) {
    EXPECT_EQ(Base64UrlEncode("f"), "Zg");
    EXPECT_EQ(Base64UrlEncode("fo"), "Zm8");
    EXPECT_EQ(Base64UrlEncode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64UrlEncode("\xfb\xff"), "-_8");
}

TEST(Base64Url, DecodesWhatItEncodesAndRejectsForeignCharacters) {
    const std::string bytes("\x00\x01\xfe\xff{}", 6);
    EXPECT_EQ(Base64UrlDecode(Base64UrlEncode(bytes)), bytes);
    EXPECT_EQ(Base64UrlDecode("Zm8="), "fo");
    EXPECT_FALSE(Base64UrlDecode("Zm+v").has_value());
    EXPECT_FALSE(Base64UrlDecode("Z").has_value());
}

// Unsigned tokens, the default, are read by the library in every end-to-end sign-in.
TEST(Jwt, Hs256SignsHeaderAndPayloadWithHmacSha256) {
    // RFC 4231, test case 2.
    EXPECT_EQ(Base64UrlEncode(HmacSha256("Jefe", "what do ya want for nothing?")),
              "W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM");
    const auto parts = Split(BuildJwt(nlohmann::json::object(), JwtAlgorithm::Hs256, "k"));
    ASSERT_EQ(parts.size(), 3U);
    EXPECT_EQ(parts[2], Base64UrlEncode(HmacSha256("k", parts[0] + "." + parts[1])));
}

// Subject, issuer and privileges reach the library's log and premium answers in the end-to-end
// runs; the expiry and the token ID do not.
TEST(Jwt, AccessTokenCarriesTheStandardAndNamespacedClaims) {
    const auto payload = AccessTokenPayload(SampleClaims());
    EXPECT_EQ(payload.at("exp"), 1700003600);
    EXPECT_EQ(payload.at("https://www.morva.example/tokenID"), "tid-1");
}

}  // namespace
}  // namespace fake_broker
