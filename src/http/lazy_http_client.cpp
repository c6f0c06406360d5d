#include "http/lazy_http_client.h"

#include <utility>

namespace morva {

LazyHttpClient::LazyHttpClient(Factory factory) : factory_(std::move(factory)) {}

HttpResponse LazyHttpClient::Send(const std::u16string& method, const HttpRequest& request) {
    return Client()->Send(method, request);
}

std::shared_ptr<HttpClient> LazyHttpClient::Client() {
    const std::lock_guard lock(clientMutex_);
    if (!client_) {
        client_ = factory_();
    }
    return client_;
}

}  // namespace morva
