#pragma once

#include <memory>
#include <string>

#include "http/http_request.h"
#include "http/http_response.h"

namespace morva {

// The one transport of every remote call: one HTTPS exchange per Send. Any status comes back as
// an ordinary response; only a failure to talk to the server (connect, send, read) throws
// MorvaError. Stateless per call, so one instance serves any number of threads at once.
class HttpClient {
  public:
    virtual HttpResponse Send(const std::u16string& method, const HttpRequest& request) = 0;
    virtual ~HttpClient() = default;
};

// The platform's transport: WinInet on Windows, libcurl elsewhere.
std::shared_ptr<HttpClient> CreatePlatformHttpClient();

}  // namespace morva
