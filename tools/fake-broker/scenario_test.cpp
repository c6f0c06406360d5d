#include "scenario.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <utility>

namespace fake_broker {
namespace {

using nlohmann::json;

// Members away from their defaults whose effect no run's outcome shows: each is read, and written
// back at the same place. (The runs show the fault kinds, statuses, bodies, book sizes, token
// failures and the metadata's versions and files.)
TEST(ScenarioParsing, MembersAreReadAndWrittenBackInPlace) {
    const json original = json::parse(R"({
        "books": {"premium": true, "latencyJitterMs": 40, "faultRate": 0.02, "seed": 7,
            "instruments": {
            "EUR_USD": {"premium": false, "latencyMs": 250},
            "BTC_USD": {"missing": true, "missingStatus": 400},
            "AUD_USD": {"price": 0.66, "bucketWidth": 0.0005}}},
        "auth": {"checkTokens": false, "authorizeMode": "error", "algorithm": "HS256"},
        "metadata": {"files": {"b.dll": {"status": 404, "base64": ""}}}})");
    const Scenario scenario = ParseScenario(original);
    EXPECT_EQ(scenario.auth.authorizeMode, AuthorizeMode::Error);
    const json normalised = ScenarioToJson(scenario);
    EXPECT_EQ(ScenarioToJson(ParseScenario(normalised)), normalised);
    const json flatOriginal = original.flatten();
    const json flatNormalised = normalised.flatten();
    for (const auto& [place, value] : flatOriginal.items()) {
        EXPECT_EQ(flatNormalised.value(place, json()), value) << place;
    }
}

TEST(ScenarioParsing, RejectsUnknownMembersAndWrongTypesNamingThePlace) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"book": {}})", "(top).book"},
        {R"({"books": {"instruments": {"X": {"latency": 1}}}})", "books.instruments.X.latency"},
        {R"({"books": {"premium": "yes"}})", "books.premium"},
        {R"({"auth": {"authorizeMode": "popup"}})", "auth.authorizeMode"},
        {R"({"books": {"instruments": {"X": {"status": 42}}}})", "status"},
        {"[]", "must be an object"},
        {R"({"books": {"faultRate": 1.5}})", "books.faultRate"},
        {R"({"metadata": {"rawDocument": 3}})", "metadata.rawDocument"},
    };
    for (const auto& [text, place] : cases) {
        EXPECT_THAT([&] { ParseScenario(json::parse(text)); },
                    testing::ThrowsMessage<ScenarioError>(testing::HasSubstr(place)))
            << text;
    }
}

json ShippedExample(const char* name) {
    std::ifstream file(std::string(FAKE_BROKER_SOURCE_DIR "/scenarios/") + name);
    return json::parse(file);
}

// default.json spells out the built-in behaviour, which is also what an empty scenario gets.
TEST(ScenarioParsing, ShippedExamplesAreValidAndTheDefaultOneIsTheBuiltInBehaviour) {
    EXPECT_NO_THROW(ParseScenario(ShippedExample("trouble.json")));
    const json builtIn = ScenarioToJson(Scenario{});
    EXPECT_EQ(ScenarioToJson(ParseScenario(ShippedExample("default.json"))), builtIn);
    EXPECT_EQ(ScenarioToJson(ParseScenario(json::object())), builtIn);
}

// Unknown names and built-in ones the scenario hides are missing; built-in ones need no entry.
TEST(InstrumentResolution, ScenarioCanHideAddAndAdjustInstruments) {
    const Scenario scenario = ParseScenario(json::parse(R"({"books": {"instruments": {
        "EUR_USD": {"missing": true},
        "XAU_USD": {"price": 1900, "bucketWidth": 0.25, "decimals": 1}}}})"));
    const auto resolve = [&scenario](const std::string& name) {
        return ResolveInstrument(InstrumentEntry(scenario.books, name), name);
    };
    EXPECT_FALSE(resolve("EUR_USD").has_value());
    EXPECT_FALSE(resolve("EURUSD").has_value());
    ASSERT_TRUE(resolve("USD_JPY").has_value());
    EXPECT_EQ(resolve("USD_JPY")->decimals, 3);
    ASSERT_TRUE(resolve("XAU_USD").has_value());
    EXPECT_EQ(resolve("XAU_USD")->basePrice, 1900);
    EXPECT_EQ(resolve("XAU_USD")->bucketWidth, 0.25);
    EXPECT_EQ(resolve("XAU_USD")->decimals, 1);
}

}  // namespace
}  // namespace fake_broker
