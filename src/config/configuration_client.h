#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/server_config.h"

namespace morva {

// The bytes of a downloaded update file, exactly as the file server sent them.
using FileBytes = std::vector<std::uint8_t>;

// The remote metadata document (versions, update files, trading-server clock settings) and the
// update files it points to. Every operation throws on failure: MorvaError for the client's own
// messages and the transport's, the JSON library's exception for a document that does not have
// the member asked for.
class ConfigurationClient {
  public:
    virtual std::u16string GetVersion() = 0;
    virtual std::u16string GetMinVersion() = 0;
    // The library file of the current version for platform "mt4" or "mt5".
    virtual FileBytes DownloadDll(const std::u16string& platform) = 0;
    // The indicator file of the current version for the platform and the terminal's language.
    virtual FileBytes DownloadIndicator(const std::u16string& platform,
                                        const std::u16string& language) = 0;
    // The "servers" entries, in document order.
    virtual std::vector<ServerConfig> GetServerConfigs() = 0;
    virtual ~ConfigurationClient() = default;
};

}  // namespace morva
