#include "config/server_config_provider.h"

#include <string>
#include <utility>
#include <vector>

#include "base/morva_error.h"
#include "util/name_pattern.h"

namespace morva {

ServerConfigProvider::ServerConfigProvider(std::u16string serverName,
                                           std::shared_ptr<ConfigurationClient> configurationClient)
    : configurationClient_(std::move(configurationClient)), serverName_(std::move(serverName)) {}

ServerConfig ServerConfigProvider::GetServerConfig() {
    const std::vector<ServerConfig> configs = configurationClient_->GetServerConfigs();
    // Entries are in order of preference: the first whole match wins, however specific a later
    // one is. Each pattern is compiled only when its turn comes.
    for (const ServerConfig& config : configs) {
        if (NamePattern(config.namePattern).Matches(serverName_)) {
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
    pending_.Wait();
}

ServerConfig AsyncServerConfigProvider::GetServerConfig() {
    const std::lock_guard lock(lock_);
    auto config =
        pending_.Poll(worker_, [this] { return ServerConfigProvider::GetServerConfig(); });
    if (!config) {
        throw MorvaError("Waiting for server configuration");
    }
    return std::move(*config);
}

}  // namespace morva
