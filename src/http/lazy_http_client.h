#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "http/http_client.h"

namespace morva {

// Creates the real transport on the first request. The library's entry point makes the shared
// client, and it runs under the loader lock, where WinInet must not be called; the first request
// always comes later, from an export or a background task.
class LazyHttpClient final : public HttpClient {
  public:
    using Factory = std::function<std::shared_ptr<HttpClient>()>;

    explicit LazyHttpClient(Factory factory);

    // A failed creation is reported to this caller and tried again by the next one.
    HttpResponse Send(const std::u16string& method, const HttpRequest& request) override;

  private:
    std::shared_ptr<HttpClient> Client();

    const Factory factory_;
    std::mutex clientMutex_;  // guards client_
    std::shared_ptr<HttpClient> client_;
};

}  // namespace morva
