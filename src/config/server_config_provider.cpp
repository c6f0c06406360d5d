#include "config/server_config_provider.h"

#include <chrono>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/morva_error.h"

namespace morva {

namespace {

// std::wregex speaks wchar_t: UTF-16 units on Windows, code points elsewhere.
std::wstring ToWide(std::u16string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if constexpr (sizeof(wchar_t) == 4) {
            const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                              text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
            if (pair) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
            }
        }
        wide.push_back(static_cast<wchar_t>(unit));
    }
    return wide;
}

}  // namespace

ServerConfigProvider::ServerConfigProvider(std::u16string serverName,
                                           std::shared_ptr<ConfigurationClient> configurationClient)
    : configurationClient_(std::move(configurationClient)), serverName_(std::move(serverName)) {}

ServerConfig ServerConfigProvider::GetServerConfig() {
    const std::vector<ServerConfig> configs = configurationClient_->GetServerConfigs();
    const std::wstring name = ToWide(serverName_);
    // Entries are in order of preference: the first whole match wins, however specific a later
    // one is. Each pattern is compiled only when its turn comes.
    for (const ServerConfig& config : configs) {
        const std::wregex pattern(ToWide(config.namePattern), std::regex::ECMAScript);
        if (std::regex_match(name, pattern)) {
            return config;
        }
    }
    throw MorvaError("No configuration match for MetaTrader server: %ls", serverName_);
}

AsyncServerConfigProvider::AsyncServerConfigProvider(
    std::u16string serverName, std::shared_ptr<ConfigurationClient> configurationClient)
    : ServerConfigProvider(std::move(serverName), std::move(configurationClient)) {}

AsyncServerConfigProvider::~AsyncServerConfigProvider() {
    // Wait here, while the whole object still stands, rather than in the member's destructor.
    const std::lock_guard lock(lock_);
    if (pending_.valid()) {
        pending_.wait();
    }
}

ServerConfig AsyncServerConfigProvider::GetServerConfig() {
    const std::lock_guard lock(lock_);
    if (!pending_.valid()) {
        pending_ = std::async(std::launch::async,
                              [this] { return ServerConfigProvider::GetServerConfig(); });
    }
    if (pending_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        throw MorvaError("Waiting for server configuration");
    }
    // get() leaves the future empty whether it returns or rethrows: each finished lookup is
    // delivered exactly once and the next call starts over.
    std::future<ServerConfig> finished = std::move(pending_);
    return finished.get();
}

}  // namespace morva
