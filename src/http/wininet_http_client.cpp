#include "http/wininet_http_client.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
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
// Nothing of an answer outlives the call and nothing of the user's profile goes into it: a 3xx
// comes back as it is (WinInet would follow it, bearer token and all, to wherever it points), no
// cookie is sent or stored, the user's internet cache is neither read nor written, no dialog
// opens and no automatic authentication answers a server's challenge with the user's Windows
// credentials.
constexpr DWORD kRequestFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTH;
static_assert(kRequestFlags == 0x84AC0300);
constexpr DWORD kReadChunk = 64 * 1024;
// WinInet's own limits are per step, so a server that trickles a byte at a time would never meet
// them. Each step waits at most this long, and never past the request's time limit: no byte for a
// minute means a dead connection, as for curl.
constexpr std::chrono::milliseconds kConnectLimit{30'000};
constexpr std::chrono::milliseconds kStallLimit{60'000};

// The request's time limit, counted from the start of the call.
class Deadline {
  public:
    explicit Deadline(std::chrono::seconds limit)
        : limit_(limit), end_(std::chrono::steady_clock::now() + limit) {}

    std::chrono::seconds Limit() const noexcept { return limit_; }
    bool Passed() const noexcept { return std::chrono::steady_clock::now() >= end_; }
    // Also true just short of the end: a wait cut off there may return a moment early.
    bool AllButPassed() const noexcept {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(100) >= end_;
    }
    std::chrono::milliseconds Remaining() const noexcept {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return std::max(left, std::chrono::milliseconds(1));
    }

  private:
    std::chrono::seconds limit_;
    std::chrono::steady_clock::time_point end_;
};

void SetTimeout(HINTERNET handle, DWORD option, std::chrono::milliseconds value) {
    DWORD milliseconds = static_cast<DWORD>(value.count());
    if (!InternetSetOptionW(handle, option, &milliseconds, sizeof milliseconds)) {
        ThrowLastError("Set HTTP request timeouts");
    }
}

// Sets the limits of the waits to come. Wine reads the receive limit only as the response
// begins, so there a trickle may outlast the time limit by one stall limit at most.
void LimitWaits(HINTERNET request, const Deadline& deadline, bool connecting) {
    const std::chrono::milliseconds remaining = deadline.Remaining();
    if (connecting) {
        SetTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, std::min(remaining, kConnectLimit));
        SetTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, std::min(remaining, kStallLimit));
    }
    SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, std::min(remaining, kStallLimit));
}

// A failed step: the time limit's text when a wait ran into it, else the system's. Wine reports a
// receive limit met while the headers are awaited as an aborted connection.
[[noreturn]] void ThrowStepFailure(const char* operation, const Deadline& deadline) {
    const DWORD error = GetLastError();
    if ((error == ERROR_INTERNET_TIMEOUT || error == ERROR_INTERNET_CONNECTION_ABORTED) &&
        deadline.AllButPassed()) {
        ThrowTimedOut(operation, deadline.Limit());
    }
    SetLastError(error);
    ThrowLastError(operation);
}

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

// InternetReadFile waits until its whole buffer is full, however slowly the bytes come; asking
// how many are there first makes each wait a single receive, bounded by the receive limit.
std::string ReadBody(HINTERNET request, const Deadline& deadline, std::uint64_t maxBytes,
                     std::optional<std::uint64_t> declared) {
    if (declared && *declared > maxBytes) {
        ThrowResponseTooLarge(maxBytes);
    }
    std::string body;
    if (declared) {
        body.reserve(static_cast<std::size_t>(*declared));
    }
    for (;;) {
        if (deadline.Passed()) {
            ThrowTimedOut("Read HTTP response body", deadline.Limit());
        }
        LimitWaits(request, deadline, false);
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
            ThrowStepFailure("Read HTTP response body", deadline);
        }
        if (available == 0) {
            return body;
        }
        if (available > maxBytes - body.size()) {
            ThrowResponseTooLarge(maxBytes);
        }
        const DWORD wanted = std::min(available, kReadChunk);
        const std::size_t start = body.size();
        body.resize(start + wanted);
        DWORD read = 0;
        if (!InternetReadFile(request, body.data() + start, wanted, &read)) {
            ThrowStepFailure("Read HTTP response body", deadline);
        }
        body.resize(start + read);
        if (read == 0) {
            return body;
        }
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
    CheckRequest(request);
    const Deadline deadline(EffectiveTimeLimit(request));
    // Declared first so the request handle (declared later) is closed first on every path.
    const UniqueInternet connection(InternetConnectW(session_->handle.get(), Wide(request.host),
                                                     request.port, L"", L"", INTERNET_SERVICE_HTTP,
                                                     0, 0));
    if (!connection) {
        ThrowLastError("Open HTTP connection");
    }
    const UniqueInternet handle(HttpOpenRequestW(connection.get(), Wide(method), Wide(request.path),
                                                 nullptr, nullptr, nullptr, kRequestFlags, 0));
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
    LimitWaits(handle.get(), deadline, true);
    if (!HttpSendRequestW(handle.get(), nullptr, 0, body, bodyLength)) {
        ThrowStepFailure("Send HTTP request", deadline);
    }

    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!HttpQueryInfoW(handle.get(), kStatusCodeQuery, &status, &statusSize, nullptr)) {
        ThrowLastError("Get HTTP response status code");
    }

    HttpResponse response;
    response.status = static_cast<std::int32_t>(status);
    response.headers = ReadResponseHeaders(handle.get());
    const bool bodyExpected = method != u"HEAD" && status != 204 && status != 304;
    const std::optional<std::uint64_t> declared =
        bodyExpected ? DeclaredBodyLength(response.headers) : std::nullopt;
    response.body = ReadBody(handle.get(), deadline, request.maxResponseBytes, declared);
    // WinInet ends the body without an error when the server closes the connection early, so a
    // cut-short book or update file would pass as complete.
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
