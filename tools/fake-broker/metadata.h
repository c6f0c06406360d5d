#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "scenario.h"

namespace fake_broker {

// The two documents the configuration client reads: production and test (staging) profile.
inline constexpr std::string_view kProductionMetadataPath =
    "/media/documents/OrderbookMetadata.json";
inline constexpr std::string_view kTestMetadataPath = "/media/documents/OrderbookMetadataTest.json";

struct FileServer {
    std::string hostname = "www.morva.example";
    int port = 443;
    std::string basePath = "/downloads";
};

nlohmann::json DefaultServers(bool testDocument);
nlohmann::json SourceObject(const FileServer& server);

// The document as served: the scenario's verbatim document if it has one, else one built from its
// versions, source and servers.
nlohmann::json MetadataDocument(const MetadataScenario& scenario, bool testDocument,
                                const FileServer& defaultSource);

// The folder the update files are served from: the scenario's "source.basePath" if it names one.
std::string FileBasePath(const MetadataScenario& scenario, const FileServer& defaultSource);

// The library and indicator file names the update installer asks for, for this version.
bool IsUpdateFileName(std::string_view name, std::string_view version);

// Stand-in bytes: not a working library or indicator, but recognisable and stable.
std::string GenerateFileBytes(std::string_view name);

}  // namespace fake_broker
