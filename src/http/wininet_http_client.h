#pragma once

#include <memory>

#include "http/http_client.h"

namespace morva {

// HTTPS through WinInet: one session for the life of the client; each Send opens and closes its
// own connection and request handles, so concurrent calls share nothing but the session (WinInet
// may still keep the TCP connection alive underneath).
class WinInetHttpClient : public HttpClient {
  public:
    WinInetHttpClient();  // throws MorvaError "Create HTTP session failed. ..."
    ~WinInetHttpClient() override;
    WinInetHttpClient(const WinInetHttpClient&) = delete;
    WinInetHttpClient& operator=(const WinInetHttpClient&) = delete;

    HttpResponse Send(const std::u16string& method, const HttpRequest& request) override;

  private:
    struct Session;
    std::unique_ptr<Session> session_;
};

}  // namespace morva
