#pragma once

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
        const std::lock_guard lock(mutex_);
        ++blockingCalls_;
        if (failure_ != nullptr) {
            std::rethrow_exception(failure_);
        }
        return token_;
    }

    std::shared_future<AccessToken> GetAccessTokenAsync() override {
        const std::lock_guard lock(mutex_);
        ++asyncCalls_;
        return future_;
    }

    // Makes the blocking call throw from now on.
    void FailBlocking(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
    }
    // Completes the asynchronous token (once).
    void CompleteAsync(AccessToken token) { promise_.set_value(std::move(token)); }
    void FailAsync(std::exception_ptr failure) { promise_.set_exception(std::move(failure)); }

    int blockingCalls() const {
        const std::lock_guard lock(mutex_);
        return blockingCalls_;
    }
    int asyncCalls() const {
        const std::lock_guard lock(mutex_);
        return asyncCalls_;
    }

  private:
    mutable std::mutex mutex_;  // guards the counters and the blocking call's answer
    AccessToken token_{"Bearer", "fake-token", 3600, {}, {}};
    std::exception_ptr failure_;
    int blockingCalls_ = 0;
    int asyncCalls_ = 0;
    std::promise<AccessToken> promise_;
    std::shared_future<AccessToken> future_;
};

}  // namespace morva::test
