#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration_client.h"
#include "http/http_client.h"
#include "util/clock.h"

namespace morva {

// Update file names. The platform code is compared exactly ("mt4" or "mt5"); any other throws
// MorvaError "Unknown Platform [%ls]".
//   DllFileName:       "MORVA_Orderbook32_<version>.dll" (mt4), "MORVA_Orderbook64_<version>.dll"
//   IndicatorFileName: "MORVA_Order_Book_<LANGUAGE>_<version>.ex4" / ".ex5", where LANGUAGE is the
//                      language with the ASCII letters a-z upper-cased and all else unchanged.
std::u16string DllFileName(std::u16string_view platform, std::u16string_view version);
std::u16string IndicatorFileName(std::u16string_view platform, std::u16string_view language,
                                 std::u16string_view version);

// ConfigurationClient over the shared HTTPS transport. The parsed document is kept for
// cacheLifetime seconds of the steady clock; one lock serialises fetching it, so concurrent
// callers wait for one request instead of sending several. Callers share the parsed document
// read-only, so a document being replaced stays valid for a caller still reading it.
class HttpConfigurationClient final : public ConfigurationClient {
  public:
    HttpConfigurationClient(std::u16string host, std::u16string metadataPath,
                            std::int32_t cacheLifetime, std::shared_ptr<HttpClient> httpClient,
                            std::shared_ptr<const Clock> clock = RealClock());

    std::u16string GetVersion() override;
    std::u16string GetMinVersion() override;
    FileBytes DownloadDll(const std::u16string& platform) override;
    FileBytes DownloadIndicator(const std::u16string& platform,
                                const std::u16string& language) override;
    std::vector<ServerConfig> GetServerConfigs() override;

  private:
    using Document = std::shared_ptr<const nlohmann::json>;

    // The cached document, or a fresh one fetched under the lock.
    Document GetDocument();
    // The current version's file named by makeName(version) from the document's file server; the
    // lock is held only while the document is got, never during the transfer.
    template <class MakeName>
    FileBytes Download(const MakeName& makeName, const char* failure);
    std::int64_t NowSeconds() const;

    const std::u16string host_;
    const std::u16string metadataPath_;
    const std::int32_t cacheLifetime_;
    const std::shared_ptr<HttpClient> httpClient_;
    const std::shared_ptr<const Clock> clock_;

    std::mutex lock_;  // guards the two fields below; held for the whole of a fetch
    Document document_;
    std::chrono::steady_clock::time_point expiresAt_{};
};

}  // namespace morva
