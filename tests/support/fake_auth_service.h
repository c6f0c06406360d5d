#pragma once

#include <atomic>
#include <exception>
#include <future>
#include <mutex>
#include <utility>

#include "auth/access_token.h"
#include "auth/auth_service.h"

namespace morva::test {

// A token service whose asynchronous token a test hands out by hand; the blocking call answers
// at once with the token or the failure set.
class FakeAuthService : public AuthService {
  public:
    FakeAuthService() : future_(promise_.get_future().share()) {}

    AccessToken GetAccessToken() override {
        ++blockingCalls_;
        const std::lock_guard lock(mutex_);
        if (failure_ != nullptr) {
            std::rethrow_exception(failure_);
        }
        return token_;
    }

    std::shared_future<AccessToken> GetAccessTokenAsync() override {
        ++asyncCalls_;
        return future_;  // set once, before any caller
    }

    // Makes the blocking call throw from now on.
    void FailBlocking(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
    }
    // Completes the asynchronous token (once).
    void CompleteAsync(AccessToken token) { promise_.set_value(std::move(token)); }
    void FailAsync(std::exception_ptr failure) { promise_.set_exception(std::move(failure)); }

    int blockingCalls() const { return blockingCalls_; }
    int asyncCalls() const { return asyncCalls_; }

  private:
    std::mutex mutex_;  // guards the blocking call's answer
    AccessToken token_{"Bearer", "fake-token", 3600, {}, {}};
    std::exception_ptr failure_;
    std::atomic<int> blockingCalls_ = 0;
    std::atomic<int> asyncCalls_ = 0;
    std::promise<AccessToken> promise_;
    std::shared_future<AccessToken> future_;
};

}  // namespace morva::test
