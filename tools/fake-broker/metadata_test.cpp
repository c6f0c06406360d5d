#include "metadata.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace fake_broker {
namespace {

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

// The version and whole-document overrides reach the library in the updates and faults runs.
TEST(MetadataDocument, TestServersOverrideOnlyTheTestDocument) {
    MetadataScenario scenario;
    scenario.testServers = nlohmann::json::array();
    EXPECT_EQ(MetadataDocument(scenario, true, FileServer{}).at("servers"),
              nlohmann::json::array());
    EXPECT_FALSE(MetadataDocument(scenario, false, FileServer{}).at("servers").empty());
}

// The updates run fetches the libraries and the EN indicator; what it cannot see: other languages
// and the names that must be refused.
TEST(UpdateFiles, RecognisesTheInstallersFileNamesForTheVersion) {
    EXPECT_TRUE(IsUpdateFileName("MORVA_Order_Book_PT-BR_1.16.5.0.ex4", "1.16.5.0"));
    EXPECT_FALSE(IsUpdateFileName("MORVA_Orderbook64_1.16.4.0.dll", "1.16.5.0"));
    EXPECT_FALSE(IsUpdateFileName("MORVA_Order_Book_en_1.16.5.0.ex5", "1.16.5.0"));
    EXPECT_FALSE(IsUpdateFileName("MORVA_Order_Book__1.16.5.0.ex5", "1.16.5.0"));
}

// Whether the generated libraries pass the installer's checks: the updates run installs the 64-bit
// one and has the 32-bit one refused for its machine.

TEST(ReadTreeFile, ServesOnlyRegularFilesInsideTheTree) {
    namespace fs = std::filesystem;
    const fs::path tree =
        fs::temp_directory_path() / ("fake_broker_tree_" + std::to_string(getpid()));
    fs::create_directories(tree / "downloads");
    std::ofstream(tree / "downloads" / "a.dll", std::ios::binary) << std::string("MZ\0x", 4);
    std::ofstream(tree / "secret") << "outside the downloads";
    fs::create_symlink(tree / "secret", tree / "downloads" / "link");

    EXPECT_EQ(ReadTreeFile(tree.string(), "/downloads/a.dll"), std::string("MZ\0x", 4));
    for (const char* path :
         {"/downloads/../secret", "/downloads/./a.dll", "/downloads//a.dll", "downloads/a.dll",
          "/downloads", "/downloads/missing", "/downloads/link", "/downloads\\a.dll", ""}) {
        EXPECT_EQ(ReadTreeFile(tree.string(), path), std::nullopt) << path;
    }
    fs::remove_all(tree);
}

}  // namespace
}  // namespace fake_broker
