#include "http/curl_http_client.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <string_view>
#include <utility>

#include "base/last_error.h"
#include "util/utf.h"

namespace morva {

namespace curl_detail {

namespace {

bool IsBlank(std::u16string_view text) noexcept {
    return text.find_first_not_of(u" \t") == std::u16string_view::npos;
}

}  // namespace

std::vector<std::string> HeaderLines(const HttpHeaders& headers) {
    std::vector<std::string> lines;
    lines.reserve(headers.size() + 2);
    for (const auto& [name, value] : headers) {
        if (IsBlank(value)) {
            lines.push_back(Utf16ToUtf8(name) + ";");
        } else {
            lines.push_back(Utf16ToUtf8(name) + ": " + Utf16ToUtf8(value));
        }
    }
    if (!headers.contains(std::u16string_view(u"Expect"))) {
        lines.emplace_back("Expect:");
    }
    if (!headers.contains(std::u16string_view(u"Content-Type"))) {
        lines.emplace_back("Content-Type:");
    }
    return lines;
}

const char* FailedOperation(CURLcode code, TransferPhase phase) noexcept {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
        case CURLE_PROXY:
            return "Open HTTP connection";
        default:
            break;
    }
    // Everything else depends on how far the exchange got. WinInet's send step covers everything
    // up to the end of the response headers, its read step the body.
    switch (phase) {
        case TransferPhase::Connecting:
            return "Open HTTP connection";
        case TransferPhase::AwaitingHeaders:
            return "Send HTTP request";
        case TransferPhase::ReadingBody:
            break;
    }
    return "Read HTTP response body";
}

std::string FailureText(CURLcode code, TransferPhase phase, const char* errorBuffer) {
    const bool retried = phase != TransferPhase::Connecting &&
                         std::string_view(FailedOperation(code, TransferPhase::ReadingBody)) ==
                             "Open HTTP connection";
    if (errorBuffer == nullptr || *errorBuffer == '\0' || retried) {
        return curl_easy_strerror(code);
    }
    return errorBuffer;
}

}  // namespace curl_detail

namespace {

using curl_detail::EasyHandle;
using curl_detail::TransferPhase;

struct SlistFree {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

// Enough for every request a module runs at once (both books' download threads, the premium
// check, the server lookup, an update, a token refresh), and one module more while an account
// switch retires the old one. A handle let go takes its connection and its parsed copy of the CA
// bundle with it, and the next one pays for both again: a handshake and milliseconds of
// certificate parsing per request, under load the bulk of the library's CPU time.
constexpr std::size_t kMaxIdleHandles = 32;

constexpr std::chrono::milliseconds kClockSlack{100};

// Curl's process-wide set-up runs once, on first use, never from a static initialiser. It is
// never undone: other code in the process may still be using curl.
void InitialiseCurl() {
    static const CURLcode code = [] {
        // OpenSSL otherwise tears itself down in an exit handler while our background requests
        // may still be using it, and the process crashes on its way out. Skipping that teardown
        // loses nothing: the process is ending.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        return curl_global_init(CURL_GLOBAL_DEFAULT);
    }();
    if (code != CURLE_OK) {
        ThrowCode("Create HTTP session", curl_easy_strerror(code), code);
    }
}

// What one exchange collects through curl's callbacks.
struct Transfer {
    bool connected = false;  // the request was about to go out on an open connection
    std::string rawHeaders;  // the latest header block only
    bool headersComplete = false;
    std::string body;
    std::uint64_t maxBodyBytes = 0;
    bool tooLarge = false;       // the body outgrew maxBodyBytes; the transfer was stopped
    std::exception_ptr failure;  // thrown inside a callback; rethrown after the transfer
};

bool IsStatusLine(std::string_view line) noexcept {
    return line.starts_with("HTTP/");
}

// A 100 Continue or a proxy's CONNECT answer each come as a block of their own before the final
// response; a block starts with its status line, so a new one replaces what came before. Lines
// after the final block's blank line are trailers, which WinInet does not report either.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    try {
        if (IsStatusLine(line)) {
            transfer.rawHeaders.clear();
            transfer.headersComplete = false;
        } else if (transfer.headersComplete) {
            return line.size();
        }
        transfer.rawHeaders.append(line);
        if (line == "\r\n" || line == "\n") {
            transfer.headersComplete = true;
        }
        return line.size();
    } catch (...) {
        transfer.failure = std::current_exception();
        return 0;
    }
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    // curl's own size limit sees only a Content-Length; a chunked or unannounced body is caught
    // here. What came so far is dropped at once: it is of no use any more.
    if (length > transfer.maxBodyBytes - transfer.body.size()) {
        transfer.tooLarge = true;
        std::string().swap(transfer.body);
        return 0;
    }
    try {
        transfer.body.append(data, length);
        return length;
    } catch (...) {
        transfer.failure = std::current_exception();
        return 0;
    }
}

std::mutex* LockFor(void* user, curl_lock_data data) noexcept {
    auto& locks = *static_cast<curl_detail::ShareLocks*>(user);
    switch (data) {
        case CURL_LOCK_DATA_SHARE:
            return &locks.shareState;
        case CURL_LOCK_DATA_DNS:
            return &locks.dnsCache;
        default:
            return nullptr;  // not shared, so curl never asks
    }
}

void LockShare(CURL* /*handle*/, curl_lock_data data, curl_lock_access /*access*/,
               void* user) noexcept {
    if (std::mutex* mutex = LockFor(user, data)) {
        mutex->lock();
    }
}

void UnlockShare(CURL* /*handle*/, curl_lock_data data, void* user) noexcept {
    if (std::mutex* mutex = LockFor(user, data)) {
        mutex->unlock();
    }
}

template <class T>
void SetOption(CURL* handle, CURLoption option, T value) {
    const CURLcode code = curl_easy_setopt(handle, option, value);
    if (code != CURLE_OK) {
        ThrowCode("Create HTTP request handle", curl_easy_strerror(code), code);
    }
}

// Runs once the connection (new or reused) is ready, just before the request goes out.
int OnConnected(void* user, char* /*remoteIp*/, char* /*localIp*/, int /*remotePort*/,
                int /*localPort*/) noexcept {
    static_cast<Transfer*>(user)->connected = true;
    return CURL_PREREQFUNC_OK;
}

TransferPhase PhaseOf(const Transfer& transfer) noexcept {
    if (transfer.headersComplete) {
        return TransferPhase::ReadingBody;
    }
    return transfer.connected ? TransferPhase::AwaitingHeaders : TransferPhase::Connecting;
}

HeaderList BuildHeaderList(const HttpHeaders& headers) {
    HeaderList list;
    for (const std::string& line : curl_detail::HeaderLines(headers)) {
        curl_slist* const appended = curl_slist_append(list.get(), line.c_str());
        if (appended == nullptr) {
            ThrowCode("Add or replace HTTP request header", curl_easy_strerror(CURLE_OUT_OF_MEMORY),
                      CURLE_OUT_OF_MEMORY);
        }
        (void)list.release();  // appended is the same list, grown
        list.reset(appended);
    }
    return list;
}

}  // namespace

CurlHttpClient::CurlHttpClient() {
    InitialiseCurl();
    share_.reset(curl_share_init());
    if (!share_) {
        ThrowCode("Create HTTP session", curl_easy_strerror(CURLE_OUT_OF_MEMORY),
                  CURLE_OUT_OF_MEMORY);
    }
    const auto set = [this](CURLSHoption option, auto value) {
        const CURLSHcode code = curl_share_setopt(share_.get(), option, value);
        if (code != CURLSHE_OK) {
            ThrowCode("Create HTTP session", curl_share_strerror(code), code);
        }
    };
    set(CURLSHOPT_LOCKFUNC, static_cast<curl_lock_function>(&LockShare));
    set(CURLSHOPT_UNLOCKFUNC, static_cast<curl_unlock_function>(&UnlockShare));
    set(CURLSHOPT_USERDATA, static_cast<void*>(&locks_));
    // Not CURL_LOCK_DATA_CONNECT: curl does not support one connection cache used by concurrent
    // threads. The idle handles keep their connections instead.
    // Not CURL_LOCK_DATA_SSL_SESSION either: curl 7.88 with OpenSSL hands one session object to
    // handshakes running in several threads, which change it outside the share's lock (a data
    // race that can free a certificate chain another handshake is copying). Each handle keeps its
    // own sessions for its own reconnections.
    set(CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

CurlHttpClient::~CurlHttpClient() = default;

EasyHandle CurlHttpClient::AcquireHandle() {
    {
        const std::lock_guard lock(idleMutex_);
        if (!idle_.empty()) {
            EasyHandle handle = std::move(idle_.back());
            idle_.pop_back();
            return handle;
        }
    }
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        ThrowCode("Create HTTP request handle", curl_easy_strerror(CURLE_FAILED_INIT),
                  CURLE_FAILED_INIT);
    }
    return handle;
}

void CurlHttpClient::ReleaseHandle(EasyHandle handle) noexcept {
    // Forget the finished request's options (they point into its memory); the connection cache,
    // the share and the TLS session cache stay.
    curl_easy_reset(handle.get());
    try {
        const std::lock_guard lock(idleMutex_);
        if (idle_.size() < kMaxIdleHandles) {
            idle_.push_back(std::move(handle));
        }
    } catch (...) {
        // Could not keep it: the handle closes its connections as it goes.
    }
}

HttpResponse CurlHttpClient::Send(const std::u16string& method, const HttpRequest& request) {
    CheckRequest(request);
    // Everything curl points into is declared before the handle, so it outlives the handle's
    // reset on the way out.
    const std::string url = "https://" + Utf16ToUtf8(request.host) + ":" +
                            std::to_string(request.port) + Utf16ToUtf8(request.path);
    const std::string verb = Utf16ToUtf8(method);
    const std::chrono::seconds timeLimit = EffectiveTimeLimit(request);
    const HeaderList headers = BuildHeaderList(request.headers);
    Transfer transfer;
    transfer.maxBodyBytes = request.maxResponseBytes;
    char errorText[CURL_ERROR_SIZE] = {};

    EasyHandle handle = AcquireHandle();
    struct ReturnOnExit {
        CurlHttpClient& client;
        EasyHandle& handle;
        ~ReturnOnExit() { client.ReleaseHandle(std::move(handle)); }
    } const returnOnExit{*this, handle};
    CURL* const curl = handle.get();

    SetOption(curl, CURLOPT_ERRORBUFFER, errorText);
    SetOption(curl, CURLOPT_SHARE, share_.get());
    SetOption(curl, CURLOPT_URL, url.c_str());
    SetOption(curl, CURLOPT_PROTOCOLS_STR, "https");
    // The CA bundle alone, without the certificate directory some builds also default to: curl
    // keeps a parsed bundle for the handle's later connections only when no directory is set, and
    // parsing it again costs milliseconds of CPU per connection.
    SetOption(curl, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    // The wire behaviour the WinInet transport is opened with too: HTTP/1.1, raw body, a 3xx
    // returned like any other status, never followed. curl keeps no cookies and no cache unless
    // asked to (no cookie file, no HSTS or Alt-Svc cache), so nothing of one answer reaches the
    // next request.
    SetOption(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    SetOption(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    SetOption(curl, CURLOPT_FOLLOWLOCATION, 0L);
    SetOption(curl, CURLOPT_USERAGENT, "Morva Curl Http Client");
    SetOption(curl, CURLOPT_NOSIGNAL, 1L);  // a timeout signal would hit an arbitrary thread
    SetOption(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // A transfer stuck a minute is dead. One that trickles faster still ends at the time limit.
    SetOption(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    SetOption(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    SetOption(curl, CURLOPT_TIMEOUT_MS,
              static_cast<long>(std::chrono::milliseconds(timeLimit).count()));
    // Fails before the body when a Content-Length announces too much (0 would mean no limit).
    if (request.maxResponseBytes > 0) {
        SetOption(curl, CURLOPT_MAXFILESIZE_LARGE,
                  static_cast<curl_off_t>(std::min<std::uint64_t>(
                      request.maxResponseBytes, std::numeric_limits<curl_off_t>::max())));
    }
    SetOption(curl, CURLOPT_HTTPHEADER, headers.get());
    SetOption(curl, CURLOPT_PREREQFUNCTION, static_cast<curl_prereq_callback>(&OnConnected));
    SetOption(curl, CURLOPT_PREREQDATA, static_cast<void*>(&transfer));
    SetOption(curl, CURLOPT_HEADERFUNCTION, static_cast<curl_write_callback>(&OnHeader));
    SetOption(curl, CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
    SetOption(curl, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(&OnBody));
    SetOption(curl, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));

    if (verb == "HEAD") {
        SetOption(curl, CURLOPT_NOBODY, 1L);  // a custom "HEAD" would wait for a body
    } else if (verb == "POST" || !request.body.empty()) {
        SetOption(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        SetOption(curl, CURLOPT_POSTFIELDS, request.body.data());
        if (verb != "POST") {
            SetOption(curl, CURLOPT_CUSTOMREQUEST, verb.c_str());
        }
    } else if (verb != "GET") {
        SetOption(curl, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    const auto started = std::chrono::steady_clock::now();
    const CURLcode code = curl_easy_perform(curl);
    if (transfer.failure) {
        std::rethrow_exception(transfer.failure);
    }
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        ThrowResponseTooLarge(request.maxResponseBytes);
    }
    if (code != CURLE_OK) {
        const TransferPhase phase = PhaseOf(transfer);
        // The stall and connection limits time out too; only a call that ran its whole time
        // limit ran out of it (curl's clock may stop a millisecond or so short of ours).
        if (code == CURLE_OPERATION_TIMEDOUT &&
            std::chrono::steady_clock::now() - started >= timeLimit - kClockSlack) {
            ThrowTimedOut(curl_detail::FailedOperation(code, phase), timeLimit);
        }
        ThrowCode(curl_detail::FailedOperation(code, phase),
                  curl_detail::FailureText(code, phase, errorText), code);
    }

    long status = 0;
    const CURLcode statusCode = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (statusCode != CURLE_OK) {
        ThrowCode("Get HTTP response status code", curl_easy_strerror(statusCode), statusCode);
    }

    HttpResponse response;
    response.status = static_cast<std::int32_t>(status);
    response.headers = ParseResponseHeaders(Utf8ToUtf16(transfer.rawHeaders));
    response.body = std::move(transfer.body);
    return response;
}

std::shared_ptr<HttpClient> CreatePlatformHttpClient() {
    return std::make_shared<CurlHttpClient>();
}

}  // namespace morva
