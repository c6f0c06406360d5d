#include "metadata.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <tuple>

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

// What the installer checks: "MZ", e_lfanew, "PE\0\0", the machine its name says, the DLL flag,
// and a section that ends where the file does.
TEST(UpdateFiles, GeneratedLibrariesAreDllsForTheirMachine) {
    const auto read16 = [](const std::string& bytes, std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) |
                                     static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    for (const auto& [name, machine, magic] :
         {std::tuple{"MORVA_Orderbook64_1.17.0.0.dll", 0x8664U, 0x20BU},
          std::tuple{"MORVA_Orderbook32_1.17.0.0.dll", 0x014CU, 0x10BU}}) {
        const std::string bytes = GenerateFileBytes(name);
        EXPECT_EQ(bytes.substr(0, 2), "MZ");
        const unsigned pe = read16(bytes, 0x3C);
        EXPECT_EQ(bytes.substr(pe, 4), std::string("PE\0\0", 4));
        EXPECT_EQ(read16(bytes, pe + 4), machine) << name;
        EXPECT_EQ(read16(bytes, pe + 22) & 0x2002U, 0x2002U) << name;
        EXPECT_EQ(read16(bytes, pe + 24), magic) << name;
        const std::size_t section = pe + 24 + read16(bytes, pe + 20);
        const auto read32 = [&](std::size_t at) {
            return read16(bytes, at) | read16(bytes, at + 2) << 16;
        };
        EXPECT_EQ(read32(section + 20) + read32(section + 16), bytes.size()) << name;
    }
    EXPECT_NE(GenerateFileBytes("MORVA_Order_Book_EN_1.17.0.0.ex5").substr(0, 2), "MZ");
}

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
