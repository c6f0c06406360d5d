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
    EXPECT_EQ(Base64UrlEncode(""), "");
    EXPECT_EQ(Base64UrlEncode("f"), "Zg");
    EXPECT_EQ(Base64UrlEncode("fo"), "Zm8");
    EXPECT_EQ(Base64UrlEncode("foo"), "Zm9v");
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

TEST(Jwt, UnsignedTokenHasThreeSegmentsAndAnEmptySignature) {
    const std::string token = BuildJwt({{"sub", "x"}}, JwtAlgorithm::None, "");
    const auto parts = Split(token);
    ASSERT_EQ(parts.size(), 3U);
    EXPECT_TRUE(parts[2].empty());
    const auto header = nlohmann::json::parse(*Base64UrlDecode(parts[0]));
    EXPECT_EQ(header, (nlohmann::json{{"alg", "none"}, {"typ", "JWT"}}));
    EXPECT_EQ(nlohmann::json::parse(*Base64UrlDecode(parts[1])).at("sub"), "x");
}

TEST(Jwt, Hs256SignsHeaderAndPayloadWithHmacSha256) {
    // RFC 4231, test case 2.
    EXPECT_EQ(Base64UrlEncode(HmacSha256("Jefe", "what do ya want for nothing?")),
              "W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM");
    const auto parts = Split(BuildJwt(nlohmann::json::object(), JwtAlgorithm::Hs256, "k"));
    ASSERT_EQ(parts.size(), 3U);
    EXPECT_EQ(parts[2], Base64UrlEncode(HmacSha256("k", parts[0] + "." + parts[1])));
}

TEST(Jwt, AccessTokenCarriesTheStandardAndNamespacedClaims) {
    const auto payload = AccessTokenPayload(SampleClaims());
    EXPECT_EQ(payload.at("sub"), "morva|7");
    EXPECT_EQ(payload.at("iss"), "https://login.morva.example/");
    EXPECT_EQ(payload.at("iat"), 1700000000);
    EXPECT_EQ(payload.at("exp"), 1700003600);
    EXPECT_EQ(payload.at("https://www.morva.example/tokenID"), "tid-1");
    EXPECT_EQ(payload.at("https://www.morva.example/privileges").at("live").at("canAccessPremium"),
              1);
}

TEST(Jwt, ClaimsSurviveTheTokenRoundTrip) {
    const auto payload = AccessTokenPayload(SampleClaims());
    const auto parts = Split(BuildJwt(payload, JwtAlgorithm::Hs256, "secret"));
    EXPECT_EQ(nlohmann::json::parse(*Base64UrlDecode(parts[1])), payload);
}

}  // namespace
}  // namespace fake_broker
