// The configuration host's metadata document (versions, update file source, server list) and the
// server list's name patterns matched against a trading-server name. Input: the server name, a
// line feed, the document.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/morva_error.h"
#include "config/http_configuration_client.h"
#include "config/server_config_provider.h"
#include "fuzz_input.h"
#include "util/clock.h"
#include "util/utf.h"

namespace {

// Serves the document for the metadata request and an empty file for any download.
class DocumentServer final : public morva::HttpClient {
  public:
    explicit DocumentServer(std::string document) : document_(std::move(document)) {}

    morva::HttpResponse Send(const std::u16string&, const morva::HttpRequest& request) override {
        morva::HttpResponse response;
        response.status = 200;
        if (request.path.rfind(u"/metadata", 0) == 0) {
            response.body = document_;
        }
        return response;
    }

  private:
    const std::string document_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = morva::fuzz::SplitAtLine(morva::fuzz::AsText(data, size));
    const std::u16string name = morva::Utf8ToUtf16(std::string(parts.first));
    const std::string document(parts.second);
    const auto client = std::make_shared<morva::HttpConfigurationClient>(
        u"www.morva.example", u"/metadata", 60, std::make_shared<DocumentServer>(document));

    // The client's and the provider's own texts, the document's syntax, members and types, a name
    // pattern NamePattern refuses.
    const auto expect = [](const auto& action) {
        morva::fuzz::Tolerating<morva::MorvaError, nlohmann::json::exception,
                                std::invalid_argument>(action);
    };
    expect([&] { client->GetVersion(); });
    expect([&] { client->GetMinVersion(); });
    expect([&] { client->DownloadDll(u"mt5"); });
    expect([&] { client->DownloadIndicator(u"mt4", u"en"); });
    expect([&] { morva::ServerConfigProvider(name, client).GetServerConfig(); });
    return 0;
}
