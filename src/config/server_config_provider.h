#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "config/configuration_client.h"
#include "config/server_config.h"
#include "util/pending_result.h"
#include "util/worker_pool.h"

namespace morva {

// The clock settings of the terminal's trading server.
class IServerConfigProvider {
  public:
    // The ServerConfig that applies to the server, or throws.
    virtual ServerConfig GetServerConfig() = 0;
    virtual ~IServerConfigProvider() = default;
};

// Asks the configuration client for the server list on every call (the client keeps the
// document) and returns a copy of the first entry whose pattern matches the whole server name.
class ServerConfigProvider : public IServerConfigProvider {
  public:
    ServerConfigProvider(std::u16string serverName,
                         std::shared_ptr<ConfigurationClient> configurationClient);

    // Throws MorvaError "No configuration match for MetaTrader server: %ls" when no entry
    // matches; a pattern NamePattern refuses throws its std::invalid_argument, which names the
    // pattern, and ends the call even if a later entry would match; the client's failures pass
    // through unchanged.
    ServerConfig GetServerConfig() override;

  private:
    const std::shared_ptr<ConfigurationClient> configurationClient_;
    const std::u16string serverName_;
};

// Never waits: the first call starts the synchronous lookup on a background task and every call
// until it has finished throws MorvaError "Waiting for server configuration". The call that finds
// it finished delivers its result (or rethrows its failure) and forgets it, so the next call
// starts a new lookup. Destroying the provider waits for a lookup still running.
class AsyncServerConfigProvider : public ServerConfigProvider {
  public:
    AsyncServerConfigProvider(std::u16string serverName,
                              std::shared_ptr<ConfigurationClient> configurationClient);
    ~AsyncServerConfigProvider() override;

    ServerConfig GetServerConfig() override;

  private:
    std::mutex lock_;  // held for the whole of each GetServerConfig call
    // The destructor waits for it; the task reads only the immutable fields of the base class
    // and the client.
    PendingResult<ServerConfig> pending_;
    WorkerPool worker_{1};
};

}  // namespace morva
