#include "scenario.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fake_broker {
namespace {

using nlohmann::json;

TEST(ScenarioParsing, EmptyObjectGivesTheDefaults) {
    const Scenario scenario = ParseScenario(json::object());
    EXPECT_FALSE(scenario.books.premium);
    EXPECT_EQ(scenario.books.missingStatus, 404);
    EXPECT_TRUE(scenario.auth.checkTokens);
    EXPECT_EQ(scenario.auth.authorizeMode, AuthorizeMode::Auto);
    EXPECT_FALSE(scenario.auth.tokenFailure.has_value());
    EXPECT_EQ(scenario.metadata.version, "1.16.5.0");
}

TEST(ScenarioParsing, ReadsPerInstrumentChoices) {
    const Scenario scenario = ParseScenario(json::parse(R"({
        "books": {"premium": true, "instruments": {
            "EUR_USD": {"premium": false, "latencyMs": 250},
            "USD_JPY": {"status": 503, "body": ""},
            "BTC_USD": {"missing": true, "missingStatus": 400},
            "AUD_USD": {"price": 0.66, "bucketWidth": 0.0005}}}})"));
    const auto& instruments = scenario.books.instruments;
    EXPECT_EQ(instruments.at("EUR_USD").premium, false);
    EXPECT_EQ(instruments.at("EUR_USD").latencyMs, 250);
    EXPECT_EQ(instruments.at("USD_JPY").status, 503);
    EXPECT_EQ(instruments.at("USD_JPY").body, "");
    EXPECT_TRUE(instruments.at("BTC_USD").missing);
    EXPECT_EQ(instruments.at("BTC_USD").missingStatus, 400);
    EXPECT_EQ(instruments.at("AUD_USD").price, 0.66);
}

TEST(ScenarioParsing, ReadsAuthAndMetadataChoices) {
    const Scenario scenario = ParseScenario(json::parse(R"({
        "auth": {"checkTokens": false, "authorizeMode": "error", "algorithm": "HS256",
                 "tokenFailure": {"status": 400, "error": "invalid_grant", "grants": ["refresh_token"]}},
        "metadata": {"version": "1.17.0.0", "minVersion": "1.17.0.0",
                     "files": {"a.dll": "text", "b.dll": {"status": 404}, "c.dll": {"base64": "AP8="}}}})"));
    EXPECT_FALSE(scenario.auth.checkTokens);
    EXPECT_EQ(scenario.auth.authorizeMode, AuthorizeMode::Error);
    EXPECT_EQ(scenario.auth.algorithm, JwtAlgorithm::Hs256);
    ASSERT_TRUE(scenario.auth.tokenFailure.has_value());
    EXPECT_EQ(scenario.auth.tokenFailure->grants, std::vector<std::string>{"refresh_token"});
    EXPECT_EQ(scenario.metadata.version, "1.17.0.0");
    EXPECT_EQ(scenario.metadata.files.at("a.dll").content, "text");
    EXPECT_EQ(scenario.metadata.files.at("b.dll").status, 404);
    EXPECT_EQ(scenario.metadata.files.at("c.dll").content, std::string("\x00\xff", 2));
}

TEST(ScenarioParsing, ReadsFaultsAndLoadChoices) {
    const Scenario scenario = ParseScenario(json::parse(R"({
        "books": {"latencyJitterMs": 40, "faultRate": 0.02, "seed": 7, "instruments": {
            "A_B": {"fault": "reset"}, "C_D": {"fault": "stall", "holdMs": 5000},
            "E_F": {"fault": "noAnswer"}, "G_H": {"fault": "truncate"},
            "I_J": {"fault": "invalidUtf8", "status": 500}, "K_L": {"price": 2, "buckets": 110000},
            "M_N": {"fault": "trickle", "trickleMs": 9000}, "O_P": {"fault": "endless"}}},
        "auth": {"tokenTrickleMs": 4000},
        "metadata": {"rawDocument": {"status": 200, "base64": "eyJ2ZXJzaW9u/w=="}}})"));
    const auto& instruments = scenario.books.instruments;
    EXPECT_EQ(scenario.books.latencyJitterMs, 40);
    EXPECT_EQ(scenario.books.faultRate, 0.02);
    EXPECT_EQ(scenario.books.seed, 7);
    EXPECT_EQ(instruments.at("A_B").fault, Fault::Reset);
    EXPECT_EQ(instruments.at("C_D").fault, Fault::Stall);
    EXPECT_EQ(instruments.at("C_D").holdMs, 5000);
    EXPECT_EQ(instruments.at("E_F").fault, Fault::NoAnswer);
    EXPECT_EQ(instruments.at("G_H").fault, Fault::Truncate);
    EXPECT_EQ(instruments.at("I_J").fault, Fault::InvalidUtf8);
    EXPECT_EQ(instruments.at("K_L").buckets, 110000);
    EXPECT_EQ(instruments.at("M_N").fault, Fault::Trickle);
    EXPECT_EQ(instruments.at("M_N").trickleMs, 9000);
    EXPECT_EQ(instruments.at("O_P").fault, Fault::Endless);
    EXPECT_EQ(scenario.auth.tokenTrickleMs, 4000);
    ASSERT_TRUE(scenario.metadata.rawDocument.has_value());
    EXPECT_EQ(scenario.metadata.rawDocument->content, "{\"version\xff");
}

TEST(ScenarioParsing, RejectsUnknownMembersAndWrongTypesNamingThePlace) {
    const auto message = [](const char* text) {
        try {
            ParseScenario(json::parse(text));
        } catch (const ScenarioError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message(R"({"book": {}})").find("(top).book"), std::string::npos);
    EXPECT_NE(message(R"({"books": {"instruments": {"X": {"latency": 1}}}})")
                  .find("books.instruments.X.latency"),
              std::string::npos);
    EXPECT_NE(message(R"({"books": {"premium": "yes"}})").find("books.premium"), std::string::npos);
    EXPECT_NE(message(R"({"auth": {"authorizeMode": "popup"}})").find("auth.authorizeMode"),
              std::string::npos);
    EXPECT_NE(message(R"({"books": {"instruments": {"X": {"status": 42}}}})").find("status"),
              std::string::npos);
    EXPECT_NE(message("[]").find("must be an object"), std::string::npos);
    EXPECT_NE(message(R"({"books": {"instruments": {"X": {"fault": "explode"}}}})")
                  .find("books.instruments.X.fault"),
              std::string::npos);
    EXPECT_NE(message(R"({"books": {"faultRate": 1.5}})").find("books.faultRate"),
              std::string::npos);
    EXPECT_NE(message(R"({"books": {"instruments": {"X": {"buckets": 0}}}})").find("buckets"),
              std::string::npos);
    EXPECT_NE(message(R"({"metadata": {"rawDocument": 3}})").find("metadata.rawDocument"),
              std::string::npos);
    EXPECT_NE(message(R"({"auth": {"tokenTrickleMs": -1}})").find("auth.tokenTrickleMs"),
              std::string::npos);
}

TEST(ScenarioParsing, NormalisedFormParsesBackToTheSameScenario) {
    const json original = json::parse(R"({
        "books": {"latencyMs": 10, "faultRate": 0.5, "seed": 3, "latencyJitterMs": 9,
                  "instruments": {"EUR_USD": {"status": 429},
                                  "GBP_USD": {"fault": "stall", "holdMs": 10, "buckets": 3},
                                  "NZD_USD": {"fault": "trickle", "trickleMs": 20}}},
        "auth": {"tokenFailure": {"status": 500, "body": "<html>"}, "subject": "s",
                 "tokenTrickleMs": 5, "authorizeMode": "forgedState"},
        "metadata": {"files": {"x.ex5": {"base64": "AAEC"}}, "servers": [],
                     "rawDocument": "not json"}})");
    const json normalised = ScenarioToJson(ParseScenario(original));
    EXPECT_EQ(ScenarioToJson(ParseScenario(normalised)), normalised);
    EXPECT_EQ(normalised.at("books").at("instruments").at("EUR_USD").at("status"), 429);
    EXPECT_EQ(normalised.at("books").at("instruments").at("GBP_USD").at("fault"), "stall");
    EXPECT_EQ(normalised.at("books").at("faultRate"), 0.5);
    EXPECT_EQ(normalised.at("auth").at("authorizeMode"), "forgedState");
}

TEST(ScenarioParsing, ShippedExamplesAreValid) {
    for (const char* name : {"default.json", "trouble.json"}) {
        std::ifstream file(std::string(FAKE_BROKER_SOURCE_DIR "/scenarios/") + name);
        ASSERT_TRUE(file.is_open()) << name;
        EXPECT_NO_THROW(ParseScenario(json::parse(file))) << name;
    }
}

TEST(ScenarioParsing, DefaultExampleSpellsOutTheBuiltInBehaviour) {
    std::ifstream file(FAKE_BROKER_SOURCE_DIR "/scenarios/default.json");
    EXPECT_EQ(ScenarioToJson(ParseScenario(json::parse(file))), ScenarioToJson(Scenario{}));
}

TEST(InstrumentResolution, BuiltInInstrumentsNeedNoEntry) {
    const auto profile = ResolveInstrument(InstrumentEntry(BooksScenario{}, "USD_JPY"), "USD_JPY");
    ASSERT_TRUE(profile.has_value());
    EXPECT_EQ(profile->decimals, 3);
    EXPECT_FALSE(
        ResolveInstrument(InstrumentEntry(BooksScenario{}, "EURUSD"), "EURUSD").has_value());
}

TEST(InstrumentResolution, ScenarioCanHideAddAndAdjustInstruments) {
    const Scenario scenario = ParseScenario(json::parse(R"({"books": {"instruments": {
        "EUR_USD": {"missing": true},
        "AUD_USD": {"price": 0.66, "bucketWidth": 0.0005},
        "XAU_USD": {"price": 1900, "decimals": 1}}}})"));
    const auto resolve = [&scenario](const std::string& name) {
        return ResolveInstrument(InstrumentEntry(scenario.books, name), name);
    };
    EXPECT_FALSE(resolve("EUR_USD").has_value());
    ASSERT_TRUE(resolve("AUD_USD").has_value());
    EXPECT_EQ(resolve("AUD_USD")->basePrice, 0.66);
    ASSERT_TRUE(resolve("XAU_USD").has_value());
    EXPECT_EQ(resolve("XAU_USD")->basePrice, 1900);
    EXPECT_EQ(resolve("XAU_USD")->bucketWidth, 0.5);
    EXPECT_EQ(resolve("XAU_USD")->decimals, 1);
}

}  // namespace
}  // namespace fake_broker
