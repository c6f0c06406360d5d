#include "metadata.h"

#include <algorithm>

namespace fake_broker {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

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

std::string GenerateFileBytes(std::string_view name) {
    const bool library = EndsWith(name, ".dll");
    std::string bytes = library ? std::string("MZ") : std::string();
    bytes += "fake-broker update file ";
    bytes += name;
    bytes += '\n';
    const std::size_t size = library ? 48 * 1024 : 16 * 1024;
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
