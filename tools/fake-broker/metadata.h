#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
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

// The bytes of the regular file at the URL path `path` inside the folder `tree`; nothing for a
// path that is not plain segments ("..", ".", empty, backslashes) or names no regular file.
std::optional<std::string> ReadTreeFile(const std::string& tree, std::string_view path);

// The headers of a Windows DLL of `size` bytes (32-bit x86 when i386, else x86-64): DOS header,
// PE signature, file and optional headers and one section holding the rest of the file. What an
// installer checks before it writes a library; nothing a loader could run.
inline constexpr std::size_t kLibraryHeadersSize = 0x200;
std::string LibraryHeaders(bool i386, std::size_t size);

// Stand-in bytes, stable per name: a library is a DLL for the machine its name says
// (MORVA_Orderbook32_ for 32-bit x86, else x86-64) with recognisable filler after its headers; an
// indicator is filler only. Nothing here is a working program.
std::string GenerateFileBytes(std::string_view name);

}  // namespace fake_broker
