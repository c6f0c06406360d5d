#include "metadata.h"

#include <gtest/gtest.h>

#include <regex>

namespace fake_broker {
namespace {

TEST(MetadataDocument, HasTheMembersTheConfigurationClientReads) {
    const auto document = MetadataDocument(MetadataScenario{}, false, FileServer{});
    EXPECT_EQ(document.at("version"), "1.16.5.0");
    EXPECT_TRUE(document.at("minVersion").is_string());
    EXPECT_EQ(document.at("source").at("hostname"), "www.morva.example");
    EXPECT_EQ(document.at("source").at("port"), 443);
    EXPECT_EQ(document.at("source").at("basePath"), "/downloads");
    ASSERT_FALSE(document.at("servers").empty());
    for (const auto& server : document.at("servers")) {
        EXPECT_TRUE(server.at("namePattern").is_string());
        EXPECT_TRUE(server.at("utcOffset").is_number_integer());
        EXPECT_TRUE(server.at("daylightTimeZone").is_string());
    }
}

TEST(MetadataDocument, EachDocumentMatchesItsOwnServers) {
    const auto first = [](const nlohmann::json& servers, const std::string& name) {
        for (const auto& server : servers) {
            if (std::regex_match(name, std::regex(server.at("namePattern").get<std::string>()))) {
                return server.at("daylightTimeZone").get<std::string>();
            }
        }
        return std::string("none");
    };
    EXPECT_EQ(first(DefaultServers(false), "MORVA-Demo"), "E. Europe Standard Time");
    EXPECT_EQ(first(DefaultServers(false), "MORVA-US-Live3"), "Eastern Standard Time");
    EXPECT_EQ(first(DefaultServers(true), "MORVATest-Demo"), "E. Europe Standard Time");
}

TEST(MetadataDocument, ScenarioOverridesWin) {
    MetadataScenario scenario;
    scenario.version = "2.0.0.0";
    scenario.testServers = nlohmann::json::array();
    EXPECT_EQ(MetadataDocument(scenario, true, FileServer{}).at("servers"),
              nlohmann::json::array());
    EXPECT_FALSE(MetadataDocument(scenario, false, FileServer{}).at("servers").empty());
    EXPECT_EQ(MetadataDocument(scenario, false, FileServer{}).at("version"), "2.0.0.0");
    scenario.document = "not an object";
    EXPECT_EQ(MetadataDocument(scenario, false, FileServer{}), "not an object");
}

TEST(UpdateFiles, RecognisesTheInstallersFileNamesForTheVersion) {
    EXPECT_TRUE(IsUpdateFileName("MORVA_Orderbook64_1.16.5.0.dll", "1.16.5.0"));
    EXPECT_TRUE(IsUpdateFileName("MORVA_Orderbook32_1.16.5.0.dll", "1.16.5.0"));
    EXPECT_TRUE(IsUpdateFileName("MORVA_Order_Book_EN_1.16.5.0.ex5", "1.16.5.0"));
    EXPECT_TRUE(IsUpdateFileName("MORVA_Order_Book_PT-BR_1.16.5.0.ex4", "1.16.5.0"));
    EXPECT_FALSE(IsUpdateFileName("MORVA_Orderbook64_1.16.4.0.dll", "1.16.5.0"));
    EXPECT_FALSE(IsUpdateFileName("MORVA_Order_Book_en_1.16.5.0.ex5", "1.16.5.0"));
    EXPECT_FALSE(IsUpdateFileName("MORVA_Order_Book__1.16.5.0.ex5", "1.16.5.0"));
}

TEST(UpdateFiles, GeneratedBytesAreStableAndDifferByName) {
    const std::string library = GenerateFileBytes("MORVA_Orderbook64_1.16.5.0.dll");
    EXPECT_EQ(library.substr(0, 2), "MZ");
    EXPECT_EQ(library, GenerateFileBytes("MORVA_Orderbook64_1.16.5.0.dll"));
    EXPECT_NE(library, GenerateFileBytes("MORVA_Orderbook32_1.16.5.0.dll"));
}

}  // namespace
}  // namespace fake_broker
