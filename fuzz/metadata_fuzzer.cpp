// The configuration host's metadata document (versions, update file source, server list) and the
// server list's name patterns matched against a trading-server name. Input: the server name, a
// line feed, the document.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "base/morva_error.h"
#include "config/http_configuration_client.h"
#include "config/server_config_provider.h"
#include "fuzz_input.h"
#include "support/fake_http_client.h"
#include "util/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = morva::fuzz::SplitAtLine(morva::fuzz::AsText(data, size));
    const std::u16string name = morva::Utf8ToUtf16(std::string(parts.first));
    const std::string document(parts.second);
    // The document for the metadata request, an empty file for any download.
    const auto http = std::make_shared<morva::test::FakeHttpClient>();
    http->SetResponder([document](const std::u16string&, const morva::HttpRequest& request) {
        return morva::test::MakeResponse(200,
                                         request.path.starts_with(u"/metadata") ? document : "");
    });
    const auto client = std::make_shared<morva::HttpConfigurationClient>(u"www.morva.example",
                                                                         u"/metadata", 60, http);

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
