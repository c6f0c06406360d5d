#include "config/http_configuration_client.h"

#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "base/morva_error.h"
#include "http/http_headers.h"
#include "http/http_request.h"
#include "http/http_response.h"
#include "util/json_number.h"
#include "util/utf.h"

namespace morva {

namespace {

// The metadata document is a few kilobytes. A library is about 3 MB and an indicator about 1 MB;
// the update files' limit leaves them room to grow twentyfold.
constexpr std::uint64_t kMaxDocumentBytes = 1024 * 1024;
constexpr std::uint64_t kMaxUpdateFileBytes = 64 * 1024 * 1024;

// Where the update files lie: the document's "source".
struct FileSource {
    std::u16string hostname;
    std::uint16_t port = 0;
    std::u16string basePath;
};

// A string member of an object, with the JSON library's exceptions for a value that is not an
// object, a missing member and a member that is not a string.
std::u16string ReadText(const nlohmann::json& object, const char* member) {
    return Utf8ToUtf16(object.at(member).get<std::string>());
}

FileSource ReadSource(const nlohmann::json& document) {
    const nlohmann::json& source = document.at("source");
    FileSource result;
    result.hostname = ReadText(source, "hostname");
    // A number, a fraction truncated; one beyond 0 to 65535 fails rather than wrapping around.
    result.port = JsonNumberInRange<std::uint16_t>(source.at("port"));
    result.basePath = ReadText(source, "basePath");
    return result;
}

bool IsPlatform(std::u16string_view platform, std::u16string_view code) {
    return platform == code;
}

[[noreturn]] void ThrowUnknownPlatform(std::u16string_view platform) {
    throw MorvaError("Unknown Platform [%ls]", platform);
}

std::u16string DecimalText(std::int64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string DllFileName(std::u16string_view platform, std::u16string_view version) {
    std::u16string name;
    if (IsPlatform(platform, u"mt4")) {
        name = u"MORVA_Orderbook32_";
    } else if (IsPlatform(platform, u"mt5")) {
        name = u"MORVA_Orderbook64_";
    } else {
        ThrowUnknownPlatform(platform);
    }
    name += version;
    name += u".dll";
    return name;
}

std::u16string IndicatorFileName(std::u16string_view platform, std::u16string_view language,
                                 std::u16string_view version) {
    std::u16string_view extension;
    if (IsPlatform(platform, u"mt4")) {
        extension = u".ex4";
    } else if (IsPlatform(platform, u"mt5")) {
        extension = u".ex5";
    } else {
        ThrowUnknownPlatform(platform);
    }
    std::u16string name = u"MORVA_Order_Book_";
    for (const char16_t unit : language) {
        name += unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
    }
    name += u'_';
    name += version;
    name += extension;
    return name;
}

HttpConfigurationClient::HttpConfigurationClient(std::u16string host, std::u16string metadataPath,
                                                 std::int32_t cacheLifetime,
                                                 std::shared_ptr<HttpClient> httpClient,
                                                 std::shared_ptr<const Clock> clock)
    : host_(std::move(host)),
      metadataPath_(std::move(metadataPath)),
      cacheLifetime_(cacheLifetime),
      httpClient_(std::move(httpClient)),
      clock_(std::move(clock)) {}

HttpConfigurationClient::Document HttpConfigurationClient::GetDocument() {
    // Held until the document is returned: concurrent callers wait for this one fetch.
    const std::lock_guard lock(lock_);
    if (document_ != nullptr && clock_->SteadyNow() < expiresAt_) {
        return document_;
    }
    // Dropped first, so that a failed fetch leaves nothing cached.
    document_.reset();

    HttpRequest request;
    request.host = host_;
    request.port = 443;
    request.path = metadataPath_ + u"?time=" + DecimalText(NowSeconds());
    request.headers = JsonAcceptingHeaders();  // the single header "Accept: application/json"
    request.maxResponseBytes = kMaxDocumentBytes;
    const HttpResponse response = httpClient_->Send(u"GET", request);
    if (response.status != 200) {
        throw MorvaError("Failed to get orderbook metadata [HttpStatus: %d]", response.status);
    }
    auto document = std::make_shared<const nlohmann::json>(nlohmann::json::parse(response.body));
    // A parsed document stays for its whole lifetime, even if a later member read fails on it.
    document_ = std::move(document);
    expiresAt_ = clock_->SteadyNow() + std::chrono::seconds(cacheLifetime_);
    return document_;
}

std::u16string HttpConfigurationClient::GetVersion() {
    return ReadText(*GetDocument(), "version");
}

std::u16string HttpConfigurationClient::GetMinVersion() {
    return ReadText(*GetDocument(), "minVersion");
}

std::vector<ServerConfig> HttpConfigurationClient::GetServerConfigs() {
    const Document document = GetDocument();
    std::vector<ServerConfig> configs;
    // The library's iteration: an array's elements, an object's member values in key order, no
    // element for null; anything but an object then fails on its first member read.
    for (const nlohmann::json& entry : document->at("servers")) {
        ServerConfig config;
        config.namePattern = ReadText(entry, "namePattern");
        // A number: a fraction is truncated (2.9 gives 2); "2", true and 2^32 + 2 fail.
        config.utcOffset = JsonNumberInRange<std::int32_t>(entry.at("utcOffset"));
        config.daylightTimeZone = ReadText(entry, "daylightTimeZone");
        configs.push_back(std::move(config));
    }
    return configs;
}

FileBytes HttpConfigurationClient::DownloadDll(const std::u16string& platform) {
    return Download([&](const std::u16string& version) { return DllFileName(platform, version); },
                    "Failed to download dll file [HttpStatus: %d]");
}

FileBytes HttpConfigurationClient::DownloadIndicator(const std::u16string& platform,
                                                     const std::u16string& language) {
    return Download(
        [&](const std::u16string& version) {
            return IndicatorFileName(platform, language, version);
        },
        "Failed to download indicator file [HttpStatus: %d]");
}

template <class MakeName>
FileBytes HttpConfigurationClient::Download(const MakeName& makeName, const char* failure) {
    // The lock is released when GetDocument returns; the shared document stays valid for this
    // call even if another caller replaces it meanwhile.
    const Document document = GetDocument();
    const std::u16string version = ReadText(*document, "version");
    const FileSource source = ReadSource(*document);
    const std::int64_t seconds = NowSeconds();
    const std::u16string fileName = makeName(version);

    HttpRequest request;
    request.host = source.hostname;
    request.port = source.port;
    request.path = source.basePath + u"/" + fileName + u"?time=" + DecimalText(seconds);
    request.maxResponseBytes = kMaxUpdateFileBytes;
    const HttpResponse response = httpClient_->Send(u"GET", request);
    if (response.status != 200) {
        throw MorvaError(failure, response.status);
    }
    return FileBytes(response.body.begin(), response.body.end());
}

std::int64_t HttpConfigurationClient::NowSeconds() const {
    // duration_cast truncates toward zero, as "whole seconds" asks.
    return std::chrono::duration_cast<std::chrono::seconds>(clock_->SystemNow().time_since_epoch())
        .count();
}

}  // namespace morva
