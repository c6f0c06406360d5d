#include "metadata.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fake_broker {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

std::string LibraryHeaders(bool i386, std::size_t size) {
    std::string headers(kLibraryHeadersSize, '\0');
    const auto put = [&headers](std::size_t at, std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            headers[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
        }
    };
    const std::uint32_t optionalSize = i386 ? 0xE0 : 0xF0;
    headers.replace(0, 2, "MZ");
    put(0x3C, 0x40, 4);                    // e_lfanew
    headers.replace(0x40, 2, "PE");        // "PE\0\0"
    put(0x44, i386 ? 0x014C : 0x8664, 2);  // Machine: I386 or AMD64
    put(0x46, 1, 2);                       // NumberOfSections
    put(0x54, optionalSize, 2);            // SizeOfOptionalHeader
    put(0x56, i386 ? 0x2102 : 0x2022, 2);  // an executable DLL
    put(0x58, i386 ? 0x10B : 0x20B, 2);    // PE32 or PE32+
    const std::size_t section = 0x58 + optionalSize;
    const auto data = static_cast<std::uint32_t>(size - kLibraryHeadersSize);
    headers.replace(section, 5, ".data");
    put(section + 8, data, 4);                  // VirtualSize
    put(section + 12, 0x1000, 4);               // VirtualAddress
    put(section + 16, data, 4);                 // SizeOfRawData
    put(section + 20, kLibraryHeadersSize, 4);  // PointerToRawData: the rest of the file
    put(section + 36, 0xC0000040, 4);           // initialised data, readable, writable
    return headers;
}

nlohmann::json DefaultServers(bool testDocument) {
    // Earlier entries win, so specific patterns come before the catch-all.
    if (testDocument) {
        return nlohmann::json::array({
            {{"namePattern", "MORVATest-US.*"},
             {"utcOffset", 2},
             {"daylightTimeZone", "Eastern Standard Time"}},
            {{"namePattern", "MORVATest.*"},
             {"utcOffset", 2},
             {"daylightTimeZone", "E. Europe Standard Time"}},
        });
    }
    return nlohmann::json::array({
        {{"namePattern", "MORVA-Demo.*"},
         {"utcOffset", 2},
         {"daylightTimeZone", "E. Europe Standard Time"}},
        {{"namePattern", "MORVA-Live.*"},
         {"utcOffset", 2},
         {"daylightTimeZone", "E. Europe Standard Time"}},
        {{"namePattern", "MORVA-US-.*"},
         {"utcOffset", 2},
         {"daylightTimeZone", "Eastern Standard Time"}},
        {{"namePattern", "MORVA-UK-.*"},
         {"utcOffset", 0},
         {"daylightTimeZone", "GMT Standard Time"}},
        {{"namePattern", "MORVA.*"}, {"utcOffset", 0}, {"daylightTimeZone", "UTC"}},
    });
}

nlohmann::json SourceObject(const FileServer& server) {
    return {{"hostname", server.hostname}, {"port", server.port}, {"basePath", server.basePath}};
}

nlohmann::json MetadataDocument(const MetadataScenario& scenario, bool testDocument,
                                const FileServer& defaultSource) {
    if (scenario.document) {
        return *scenario.document;
    }
    const auto& servers = testDocument ? scenario.testServers : scenario.servers;
    return {
        {"version", scenario.version},
        {"minVersion", scenario.minVersion},
        {"source", scenario.source ? *scenario.source : SourceObject(defaultSource)},
        {"servers", servers ? *servers : DefaultServers(testDocument)},
    };
}

std::string FileBasePath(const MetadataScenario& scenario, const FileServer& defaultSource) {
    if (scenario.source) {
        const auto it = scenario.source->find("basePath");
        if (it != scenario.source->end() && it->is_string()) {
            return it->get<std::string>();
        }
    }
    return defaultSource.basePath;
}

bool IsUpdateFileName(std::string_view name, std::string_view version) {
    const std::string v(version);
    if (name == "MORVA_Orderbook32_" + v + ".dll" || name == "MORVA_Orderbook64_" + v + ".dll") {
        return true;
    }
    constexpr std::string_view kIndicatorPrefix = "MORVA_Order_Book_";
    for (const std::string_view extension : {".ex4", ".ex5"}) {
        const std::string suffix = "_" + v + std::string(extension);
        if (StartsWith(name, kIndicatorPrefix) && EndsWith(name, suffix) &&
            name.size() > kIndicatorPrefix.size() + suffix.size()) {
            const std::string_view language = name.substr(
                kIndicatorPrefix.size(), name.size() - kIndicatorPrefix.size() - suffix.size());
            // The installer upper-cases ASCII letters of the terminal's language.
            return std::none_of(language.begin(), language.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || c == '/' || c == '\\';
            });
        }
    }
    return false;
}

std::optional<std::string> ReadTreeFile(const std::string& tree, std::string_view path) {
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    std::filesystem::path file(tree);
    for (std::size_t at = 1; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view segment = path.substr(at, end - at);
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find_first_of(std::string_view("\\\0", 2)) != std::string_view::npos) {
            return std::nullopt;
        }
        file /= std::string(segment);
        at = end + 1;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(file, error))) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        return std::nullopt;
    }
    return bytes;
}

std::string GenerateFileBytes(std::string_view name) {
    const bool library = EndsWith(name, ".dll");
    const std::size_t size = library ? 48 * 1024 : 16 * 1024;
    std::string bytes =
        library ? LibraryHeaders(StartsWith(name, "MORVA_Orderbook32_"), size) : std::string();
    bytes += "fake-broker update file ";
    bytes += name;
    bytes += '\n';
    std::uint32_t state = 2166136261U;
    for (const char c : name) {
        state = (state ^ static_cast<unsigned char>(c)) * 16777619U;
    }
    while (bytes.size() < size) {
        state = state * 1664525U + 1013904223U;
        bytes += static_cast<char>(state >> 24);
    }
    return bytes;
}

}  // namespace fake_broker
