#include "http/wininet_http_client.h"

#include <windows.h>
#include <wininet.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "base/last_error.h"
#include "base/morva_error.h"
#include "base/unique_any.h"
#include "util/size_conversion.h"

namespace morva {

namespace {

// A plain function: an imported __stdcall function's address is no template argument.
void CloseInternet(HINTERNET handle) noexcept {
    InternetCloseHandle(handle);
}
using UniqueInternet = UniqueAny<HINTERNET, CloseInternet>;

const wchar_t* Wide(const std::u16string& text) noexcept {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

constexpr DWORD kStatusCodeQuery = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
static_assert(kStatusCodeQuery == 0x20000013);
constexpr DWORD kAddOrReplace = HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE;
static_assert(kAddOrReplace == 0xA0000000);
constexpr std::size_t kReadChunk = 512;

HttpHeaders ReadResponseHeaders(HINTERNET request) {
    DWORD size = 0;
    // Only learns the size; its "insufficient buffer" outcome is the expected one.
    HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    std::u16string raw(size / sizeof(char16_t), u'\0');
    if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, nullptr)) {
        throw MorvaError("Failed to query response headers [%lu]",
                         static_cast<unsigned long>(GetLastError()));
    }
    raw.resize(size / sizeof(char16_t));
    return ParseResponseHeaders(raw);
}

std::string ReadBody(HINTERNET request) {
    std::string body;
    std::array<char, kReadChunk> chunk;
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
            ThrowLastError("Read HTTP response body");
        }
        if (read == 0) {
            return body;
        }
        body.append(chunk.data(), read);
    }
}

}  // namespace

struct WinInetHttpClient::Session {
    UniqueInternet handle;
};

WinInetHttpClient::WinInetHttpClient() : session_(std::make_unique<Session>()) {
    session_->handle.reset(InternetOpenW(L"Morva WinInet Http Client", INTERNET_OPEN_TYPE_PRECONFIG,
                                         nullptr, nullptr, 0));
    if (!session_->handle) {
        ThrowLastError("Create HTTP session");
    }
}

WinInetHttpClient::~WinInetHttpClient() = default;

HttpResponse WinInetHttpClient::Send(const std::u16string& method, const HttpRequest& request) {
    // Declared first so the request handle (declared later) is closed first on every path.
    const UniqueInternet connection(InternetConnectW(session_->handle.get(), Wide(request.host),
                                                     request.port, L"", L"", INTERNET_SERVICE_HTTP,
                                                     0, 0));
    if (!connection) {
        ThrowLastError("Open HTTP connection");
    }
    const UniqueInternet handle(HttpOpenRequestW(connection.get(), Wide(method), Wide(request.path),
                                                 nullptr, nullptr, nullptr, INTERNET_FLAG_SECURE,
                                                 0));
    if (!handle) {
        ThrowLastError("Create HTTP request handle");
    }

    for (const auto& [name, value] : request.headers) {
        const std::u16string line = name + u": " + value + u"\r\n";
        const DWORD length = ToDWord(line.size());
        if (!HttpAddRequestHeadersW(handle.get(), Wide(line), length, kAddOrReplace)) {
            ThrowLastError("Add or replace HTTP request header");
        }
    }

    const DWORD bodyLength = ToDWord(request.body.size());
    // WinInet takes the body as a non-const pointer but only reads it.
    void* body = bodyLength > 0 ? const_cast<char*>(request.body.data()) : nullptr;
    if (!HttpSendRequestW(handle.get(), nullptr, 0, body, bodyLength)) {
        ThrowLastError("Send HTTP request");
    }

    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!HttpQueryInfoW(handle.get(), kStatusCodeQuery, &status, &statusSize, nullptr)) {
        ThrowLastError("Get HTTP response status code");
    }

    HttpResponse response;
    response.status = static_cast<std::int32_t>(status);
    response.headers = ReadResponseHeaders(handle.get());
    response.body = ReadBody(handle.get());
    // WinInet ends the body without an error when the server closes the connection early, so a
    // cut-short book or update file would pass as complete.
    const std::optional<std::uint64_t> declared = DeclaredBodyLength(response.headers);
    const bool bodyExpected = method != u"HEAD" && status != 204 && status != 304;
    if (bodyExpected && declared && response.body.size() < *declared) {
        throw MorvaError("%s failed. The connection closed after %llu of %llu bytes",
                         "Read HTTP response body",
                         static_cast<unsigned long long>(response.body.size()),
                         static_cast<unsigned long long>(*declared));
    }
    return response;
}

std::shared_ptr<HttpClient> CreatePlatformHttpClient() {
    return std::make_shared<WinInetHttpClient>();
}

}  // namespace morva
