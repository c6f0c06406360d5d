#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "auth/auth_code_provider.h"
#include "support/gate.h"

namespace morva::test {

// A sign-in window that answers from a script; closing its gate makes it block until opened,
// like a user who takes their time.
class FakeAuthCodeProvider : public AuthCodeProvider, public Gate {
  public:
    std::u16string GetAuthCode(const AuthConfig& /*config*/,
                               const AuthorizationRequest& request) override {
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        const Pass pass(*this);
        const std::lock_guard lock(mutex_);
        return code_;
    }

    void AnswerCode(std::u16string code) {
        const std::lock_guard lock(mutex_);
        code_ = std::move(code);
    }
    // What each sign-in asked with, in order.
    std::vector<AuthorizationRequest> requests() const {
        const std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    mutable std::mutex mutex_;  // guards everything below
    std::u16string code_;
    std::vector<AuthorizationRequest> requests_;
};

}  // namespace morva::test
