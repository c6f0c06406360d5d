#include "auth/jwt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "auth/base64.h"
#include "base/morva_error.h"
#include "config/deployment_settings.h"
#include "support/jwt_builder.h"

namespace morva {
namespace {

using test::MakeJwt;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

// Parsing `token` fails with a message that `matcher` accepts.
template <class Matcher>
void ExpectParseFails(const std::string& token, Matcher matcher) {
    EXPECT_THAT([&] { ParseJwt(token); }, ThrowsMessage<MorvaError>(matcher)) << token;
}

std::string Claim(std::string_view suffix) {
    return std::string(deployment::kClaimsOrigin) + std::string(suffix);
}

const std::string kHeader = EncodeBase64Url(R"({"alg":"RS256","typ":"JWT"})");
const std::string kPayload = EncodeBase64Url(R"({"sub":"user"})");

TEST(Base64Url, DecodesBothAlphabetsWithOrWithoutPadding) {
    // 0xFB 0xFF 0xBF encodes as "+/+/" in the standard alphabet.
    EXPECT_EQ(DecodeBase64Url("-_-_"), "\xFB\xFF\xBF");
    EXPECT_EQ(DecodeBase64Url("+/+/"), "\xFB\xFF\xBF");
    EXPECT_EQ(DecodeBase64Url("TWE"), "Ma");
    EXPECT_EQ(DecodeBase64Url("TQ=="), "M");
}

TEST(Base64Url, EncodesTheUrlAlphabetWithoutPadding) {
    // RFC 4648's examples, then the two characters the URL alphabet replaces.
    const char* const encoded[] = {"", "Zg", "Zm8", "Zm9v", "Zm9vYg", "Zm9vYmE", "Zm9vYmFy"};
    for (std::size_t size = 0; size < std::size(encoded); ++size) {
        EXPECT_EQ(EncodeBase64Url(std::string("foobar").substr(0, size)), encoded[size]);
    }
    EXPECT_EQ(EncodeBase64Url("\xFB\xFF\xBF"), "-_-_");
}

TEST(Base64Url, RefusesWhatIsNotBase64) {
    for (const char* bad : {"TW!u", "TWF u", "T", "TWFuT", "TQ=", "TQ===", "=", "T=Q=", "TWE\n"}) {
        EXPECT_THAT([&] { DecodeBase64Url(bad); },
                    ThrowsMessage<MorvaError>("Check size of Base64 decoded buffer failed"))
            << bad;
    }
    EXPECT_THAT([] { DecodeBase64Url(""); },
                ThrowsMessage<MorvaError>("Non-positive Base64 decoded size"));
}

TEST(ParseJwt, SegmentBoundsHaveTheirOwnTexts) {
    const std::string prefix = "Failed to parse JWT token";
    ExpectParseFails("no-dot-at-all", prefix + ": header end not found");
    ExpectParseFails(kHeader + ".", prefix + ": payload begin not found");
    ExpectParseFails(kHeader + "." + kPayload, prefix + ": payload end not found");
    // The header is decoded before the payload's bounds are looked at.
    ExpectParseFails("!!.", prefix + " header: Check size of Base64 decoded buffer failed");
    ExpectParseFails("." + kPayload + ".sig", prefix + " header: Non-positive Base64 decoded size");
    ExpectParseFails(kHeader + "..sig", prefix + " payload: Non-positive Base64 decoded size");
    ExpectParseFails(kHeader + "." + EncodeBase64Url("{not json") + ".",
                     StartsWith(prefix + " payload: "));
}

// The signature, and whatever follows it, is never read.
TEST(ParseJwt, ReadsEveryClaimAndNeverTheSignature) {
    const std::string payload =
        R"({"sub":"auth0|42","iss":"https://login.example/","iat":1700000000,)"
        R"("exp":1700003600,")" +
        Claim("/tokenID") + R"(":"tid-1",")" + Claim("/privileges") +
        R"(":{"live":{"canAccessPremium":true},"demo":{"canAccessPremium":0}}})";
    const Jwt jwt = ParseJwt(kHeader + "." + EncodeBase64Url(payload) + ".!!.??");
    EXPECT_EQ(jwt.header.alg, "RS256");
    EXPECT_EQ(jwt.header.typ, "JWT");
    EXPECT_EQ(jwt.payload.sub, "auth0|42");
    EXPECT_EQ(jwt.payload.iss, "https://login.example/");
    EXPECT_EQ(jwt.payload.iat, 1700000000);
    EXPECT_EQ(jwt.payload.exp, 1700003600);
    EXPECT_EQ(jwt.payload.tokenId, "tid-1");
    EXPECT_EQ(jwt.payload.liveCanAccessPremium, 1);
    EXPECT_EQ(jwt.payload.demoCanAccessPremium, 0);
}

TEST(ParseJwt, AbsentClaimsStayEmpty) {
    for (const char* payload :
         {"{}", "42", R"({"SUB":"x"})",
          // Namespaced names compare with letter case, and a privileges claim of the wrong
          // shape simply has no flags.
          R"({"HTTPS://WWW.MORVA.EXAMPLE/privileges":{"live":{"canAccessPremium":1}}})"}) {
        const Jwt jwt = ParseJwt(MakeJwt(payload, "{}"));
        EXPECT_TRUE(jwt.header.alg.empty()) << payload;
        EXPECT_TRUE(jwt.payload.sub.empty()) << payload;
        EXPECT_FALSE(jwt.payload.iat.has_value()) << payload;
        EXPECT_FALSE(jwt.payload.exp.has_value()) << payload;
        EXPECT_FALSE(jwt.payload.liveCanAccessPremium.has_value()) << payload;
    }
    for (const std::string& privileges :
         {std::string("7"), std::string(R"({"live":1})"), std::string(R"({"live":{}})")}) {
        const Jwt jwt =
            ParseJwt(MakeJwt(R"({")" + Claim("/privileges") + R"(":)" + privileges + "}"));
        EXPECT_FALSE(jwt.payload.liveCanAccessPremium.has_value()) << privileges;
        EXPECT_FALSE(jwt.payload.demoCanAccessPremium.has_value()) << privileges;
    }
}

TEST(ParseJwt, NumbersAreTruncatedAndWrongKindsFailTheSegment) {
    auto premium = [](const std::string& value) {
        return ParseJwt(MakeJwt(R"({")" + Claim("/privileges") +
                                R"(":{"live":{"canAccessPremium":)" + value + "}}}"))
            .payload.liveCanAccessPremium;
    };
    EXPECT_EQ(premium("-1.9"), -1);  // toward zero
    EXPECT_EQ(premium("false"), 0);
    EXPECT_EQ(premium("4294967297"), 1);  // an integer keeps its low 32 bits
    EXPECT_EQ(ParseJwt(MakeJwt(R"({"iat":1700000000.99})")).payload.iat, 1700000000);

    // Each kind of claim of a wrong kind, in either segment, and numbers beyond what the field
    // holds (refused, not converted with undefined behaviour).
    for (const std::string& payload :
         {std::string(R"({"sub":5})"), std::string(R"({"iat":true})"),
          R"({")" + Claim("/privileges") + R"(":{"live":{"canAccessPremium":"1"}}})"}) {
        ExpectParseFails(MakeJwt(payload), StartsWith("Failed to parse JWT token payload: "));
    }
    ExpectParseFails(MakeJwt("{}", R"({"alg":null})"),
                     StartsWith("Failed to parse JWT token header: "));
    ExpectParseFails(MakeJwt(R"({"iat":1e300})"), HasSubstr("out_of_range"));
    ExpectParseFails(
        MakeJwt(R"({")" + Claim("/privileges") + R"(":{"demo":{"canAccessPremium":3e9}}})"),
        HasSubstr("out_of_range"));
}

}  // namespace
}  // namespace morva
