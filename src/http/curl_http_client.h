#pragma once

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_client.h"

namespace morva {

namespace curl_detail {

struct EasyCleanup {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct ShareCleanup {
    void operator()(CURLSH* share) const noexcept { curl_share_cleanup(share); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using ShareHandle = std::unique_ptr<CURLSH, ShareCleanup>;

// The request header lines in the map's order, as curl's header list takes them. curl drops a
// "Name:" line with a blank value, so such a header goes as "Name;". curl's own "Expect" (a
// 100-continue wait before a body) and form "Content-Type" are switched off unless the map
// names them, so only the caller's headers reach the server, as with WinInet.
std::vector<std::string> HeaderLines(const HttpHeaders& headers);

// Where in the exchange a transfer stopped, for naming the failed operation.
enum class TransferPhase {
    Connecting,       // no TLS connection yet
    AwaitingHeaders,  // connected, final response headers not complete
    ReadingBody,      // final response headers complete
};

// The operation name of a failed transfer: the names WinInet's steps fail with.
const char* FailedOperation(CURLcode code, TransferPhase phase) noexcept;

// The reason of a failed transfer: the error buffer's text, or curl's text for the code. curl
// keeps the first failure's text in the buffer for the whole transfer, so when a kept-alive
// connection turns out dead and the new connection curl retries on cannot be opened either, the
// buffer still names the dead one ("Send failure: Broken pipe"). A connection failure after a
// request went out is such a retry.
std::string FailureText(CURLcode code, TransferPhase phase, const char* errorBuffer);

// Serialise curl's access to the share: one lock per kind of shared data, as curl requires.
struct ShareLocks {
    std::mutex shareState;  // the share handle's own bookkeeping
    std::mutex dnsCache;    // resolved host names
};

}  // namespace curl_detail

// HttpClient over libcurl. Connections stay open in a small pool of idle easy handles (each with
// its own connection cache and TLS sessions) and DNS entries are shared between all handles
// through one share handle, so repeated calls from any thread skip most of the set-up.
class CurlHttpClient final : public HttpClient {
  public:
    CurlHttpClient();  // throws MorvaError "Create HTTP session failed. ..."
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    HttpResponse Send(const std::u16string& method, const HttpRequest& request) override;

  private:
    curl_detail::EasyHandle AcquireHandle();
    void ReleaseHandle(curl_detail::EasyHandle handle) noexcept;

    // Declaration order is destruction order reversed: idle handles detach from the share before
    // it is cleaned up, and the share's locks outlive it.
    curl_detail::ShareLocks locks_;
    curl_detail::ShareHandle share_;
    std::mutex idleMutex_;  // guards idle_
    std::vector<curl_detail::EasyHandle> idle_;
};

}  // namespace morva
