#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/morva_error.h"
#include "http/http_client.h"
#include "util/utf.h"

namespace morva::test {

// One call that reached the fake transport, as it was made.
struct RecordedRequest {
    std::u16string method;
    HttpRequest request;
};

// A request on one line, headers in the map's order with their names as sent, so a test compares
// it whole.
inline std::string Summary(const RecordedRequest& recorded) {
    const HttpRequest& request = recorded.request;
    std::string text = Utf16ToUtf8(recorded.method + u" " + request.host) + ":" +
                       std::to_string(request.port) + Utf16ToUtf8(request.path);
    for (const auto& [name, value] : request.headers) {
        text += " [" + Utf16ToUtf8(name + u": " + value) + "]";
    }
    return text + " body " + std::to_string(request.body.size()) + ", max " +
           std::to_string(request.maxResponseBytes) + ", " +
           std::to_string(request.timeLimit.count()) + " s";
}

inline HttpResponse MakeResponse(std::int32_t status, std::string body = {},
                                 HttpHeaders headers = {}) {
    HttpResponse response;
    response.status = status;
    response.headers = std::move(headers);
    response.body = std::move(body);
    return response;
}

// An HttpClient that records every call and answers first from a queue, then from a responder
// the test sets; with neither it throws MorvaError like a failed transport. Answers are produced
// outside the lock, so a responder may block (to hold a background call) without stalling others.
class FakeHttpClient : public HttpClient {
  public:
    using Responder = std::function<HttpResponse(const std::u16string&, const HttpRequest&)>;

    HttpResponse Send(const std::u16string& method, const HttpRequest& request) override {
        Responder answer;
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back({method, request});
            if (!queue_.empty()) {
                answer = std::move(queue_.front());
                queue_.pop_front();
            } else {
                answer = responder_;
            }
        }
        if (!answer) {
            throw MorvaError("FakeHttpClient: no answer for this request");
        }
        return answer(method, request);
    }

    void Enqueue(HttpResponse response) {
        EnqueueResponder([response = std::move(response)](const std::u16string&,
                                                          const HttpRequest&) { return response; });
    }
    // The next call fails like the transport would.
    void EnqueueFailure(MorvaError error) {
        EnqueueResponder(
            [error](const std::u16string&, const HttpRequest&) -> HttpResponse { throw error; });
    }
    void EnqueueResponder(Responder responder) {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(responder));
    }
    // Answers every call once the queue is empty.
    void SetResponder(Responder responder) {
        const std::lock_guard lock(mutex_);
        responder_ = std::move(responder);
    }

    std::vector<RecordedRequest> Requests() const {
        const std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    mutable std::mutex mutex_;  // guards everything below: tests and background tasks share it
    std::vector<RecordedRequest> requests_;
    std::deque<Responder> queue_;
    Responder responder_;
};

}  // namespace morva::test
