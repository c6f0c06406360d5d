#include "config/server_config_provider.h"

#include <chrono>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/morva_error.h"
#include "util/utf.h"

namespace morva {

ServerConfigProvider::ServerConfigProvider(std::u16string serverName,
                                           std::shared_ptr<ConfigurationClient> configurationClient)
    : configurationClient_(std::move(configurationClient)), serverName_(std::move(serverName)) {}

ServerConfig ServerConfigProvider::GetServerConfig() {
    const std::vector<ServerConfig> configs = configurationClient_->GetServerConfigs();
    const std::wstring name = ToRegexText(serverName_);
    // Entries are in order of preference: the first whole match wins, however specific a later
    // one is. Each pattern is compiled only when its turn comes.
    for (const ServerConfig& config : configs) {
        const std::wregex pattern(ToRegexText(config.namePattern), std::regex::ECMAScript);
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
        pending_ = worker_.Submit([this] { return ServerConfigProvider::GetServerConfig(); });
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
