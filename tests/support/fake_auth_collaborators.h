#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "auth/auth_client.h"
#include "auth/auth_code_provider.h"
#include "base/morva_error.h"
#include "support/gate.h"
#include "util/clock.h"

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

// A token endpoint that grants whatever the test enqueued, recording each grant it was asked for.
// Tokens expire relative to the clock it is given, as the real client's do.
class FakeAuthClient : public AuthClient {
  public:
    struct Call {
        std::string grant;  // "code", "refresh" or "secret"
        std::string first;  // redirect URI, refresh token or audience
        std::string second;
        std::string codeVerifier;  // with a code
    };

    explicit FakeAuthClient(std::shared_ptr<const Clock> clock) : clock_(std::move(clock)) {}

    // A grant answered with these tokens; access token text "access-<n>".
    static AuthTokens Tokens(std::string refreshToken, std::int32_t expiresIn = 3600) {
        AuthTokens tokens;
        tokens.refreshToken = std::move(refreshToken);
        tokens.accessToken.tokenType = "Bearer";
        tokens.accessToken.expiresIn = expiresIn;
        tokens.accessToken.jwt.payload.sub = "auth0|user";
        return tokens;
    }

    void Grant(AuthTokens tokens) {
        Script([tokens] { return tokens; });
    }
    // A grant that fails with `error` (a MorvaError, or a GrantRefusedError for a refusal).
    template <class Error>
    void Refuse(Error error) {
        Script([error]() -> AuthTokens { throw error; });
    }
    std::vector<Call> Calls() const {
        const std::lock_guard lock(mutex_);
        return calls_;
    }

    AuthTokens GetAuthTokensByCode(const std::string& redirectUri, const std::string& code,
                                   const std::string& codeVerifier) override {
        return Answer({"code", redirectUri, code, codeVerifier});
    }
    AuthTokens GetAuthTokensByRefreshToken(const std::string& refreshToken) override {
        return Answer({"refresh", refreshToken, {}, {}});
    }
    AuthTokens GetAuthTokensBySecret(const std::string& audience,
                                     const std::string& clientSecret) override {
        return Answer({"secret", audience, clientSecret, {}});
    }

  private:
    void Script(std::function<AuthTokens()> answer) {
        const std::lock_guard lock(mutex_);
        answers_.push_back(std::move(answer));
    }

    AuthTokens Answer(Call call) {
        const std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        if (answers_.empty()) {
            throw MorvaError("FakeAuthClient: no answer for this grant");
        }
        const std::function<AuthTokens()> next = std::move(answers_.front());
        answers_.pop_front();
        AuthTokens tokens = next();
        tokens.accessToken.token = "access-" + std::to_string(calls_.size());
        tokens.accessToken.expiresAt =
            clock_->SteadyNow() + std::chrono::seconds(tokens.accessToken.expiresIn);
        return tokens;
    }

    const std::shared_ptr<const Clock> clock_;
    mutable std::mutex mutex_;  // guards the script and the record
    std::deque<std::function<AuthTokens()>> answers_;
    std::vector<Call> calls_;
};

}  // namespace morva::test
