#include "auth/code_auth_service.h"

#include <chrono>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "base/log.h"
#include "base/morva_error.h"
#include "util/utf.h"

namespace morva {

namespace {

// A token this close to its expiry is renewed rather than handed out.
constexpr std::chrono::seconds kExpiryMargin{30};

class WindowClosedError : public MorvaError {
  public:
    using MorvaError::MorvaError;
};

// A failed authorization as it is kept: its text and when the next one may start.
class AuthorizationFailedError : public MorvaError {
  public:
    AuthorizationFailedError(const char* text, std::chrono::steady_clock::time_point retryAt)
        : MorvaError("%s", text), retryAt_(retryAt) {}

    std::chrono::steady_clock::time_point retryAt() const noexcept { return retryAt_; }

  private:
    std::chrono::steady_clock::time_point retryAt_;
};

std::exception_ptr KeptFailure(const std::exception& failure,
                               std::chrono::steady_clock::time_point now) {
    const bool closed = dynamic_cast<const WindowClosedError*>(&failure) != nullptr;
    const auto pause =
        closed ? CodeAuthService::kPauseAfterClosedWindow : CodeAuthService::kPauseAfterFailure;
    return std::make_exception_ptr(AuthorizationFailedError(failure.what(), now + pause));
}

// What the callers get while the pause lasts: the failure, and when it ends.
std::shared_future<AccessToken> PausedFailure(const MorvaError& failure,
                                              std::chrono::steady_clock::duration left) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
    std::promise<AccessToken> result;
    result.set_exception(std::make_exception_ptr(MorvaError(
        "%s (next sign-in attempt in %lld s)", failure.what(), static_cast<long long>(seconds))));
    return result.get_future().share();
}

}  // namespace

std::shared_ptr<CodeAuthService> CodeAuthService::Create(
    AuthConfig config, std::shared_ptr<AuthCodeProvider> codeProvider,
    std::shared_ptr<AuthClient> authClient, std::shared_ptr<CredentialStore> credentials,
    std::shared_ptr<const Clock> clock) {
    return std::make_shared<CodeAuthService>(Passkey{}, std::move(config), std::move(codeProvider),
                                             std::move(authClient), std::move(credentials),
                                             std::move(clock));
}

CodeAuthService::CodeAuthService(Passkey, AuthConfig config,
                                 std::shared_ptr<AuthCodeProvider> codeProvider,
                                 std::shared_ptr<AuthClient> authClient,
                                 std::shared_ptr<CredentialStore> credentials,
                                 std::shared_ptr<const Clock> clock)
    : config_(std::move(config)),
      codeProvider_(std::move(codeProvider)),
      authClient_(std::move(authClient)),
      credentials_(std::move(credentials)),
      clock_(std::move(clock)) {}

std::shared_future<AccessToken> CodeAuthService::GetAccessTokenAsync() {
    const std::lock_guard lock(authorizationMutex_);
    if (!authorization_.valid()) {
        MORVA_LOG_DEBUG("Starting authorization...");
        StartAuthorization();
    } else if (authorization_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        MORVA_LOG_DEBUG("Authorization in progress");
    } else {
        try {
            const AccessToken& token = authorization_.get();
            if (clock_->SteadyNow() + kExpiryMargin < token.expiresAt) {
                MORVA_LOG_DEBUG("Using cached access token");
            } else {
                MORVA_LOG_DEBUG("Cached access token expired, reauthorizing...");
                StartAuthorization();
            }
        } catch (const AuthorizationFailedError& e) {
            MORVA_LOG_ERROR("Authorization failed: {}", e.what());
            const auto now = clock_->SteadyNow();
            if (now < e.retryAt()) {
                return PausedFailure(e, e.retryAt() - now);
            }
            MORVA_LOG_INFO("Starting authorization again");
            StartAuthorization();
        }
    }
    return authorization_;
}

void CodeAuthService::StartAuthorization() {
    // Shared with the thread, so that a thread that never starts can still fail it.
    const auto result = std::make_shared<std::promise<AccessToken>>();
    authorization_ = result->get_future().share();
    // Detached: the thread owns its share of the service and nobody ever waits to join it.
    try {
        std::thread([self = shared_from_this(), result] {
            try {
                result->set_value(self->GetAccessToken());
            } catch (const std::exception& e) {
                result->set_exception(KeptFailure(e, self->clock_->SteadyNow()));
            } catch (...) {
                result->set_exception(
                    KeptFailure(MorvaError("Unknown error"), self->clock_->SteadyNow()));
            }
        }).detach();
    } catch (const std::system_error& e) {
        MORVA_LOG_ERROR("Could not start authorization: {}", e.what());
        result->set_exception(KeptFailure(MorvaError("Could not start authorization: %s", e.what()),
                                          clock_->SteadyNow()));
    }
}

AccessToken CodeAuthService::GetAccessToken() {
    if (const auto refreshToken = TryLoadRefreshToken()) {
        if (auto token = TryGetAccessTokenFromRefreshToken(*refreshToken)) {
            return std::move(*token);
        }
    }
    return GetAccessTokenByCode();
}

std::optional<std::u16string> CodeAuthService::TryLoadRefreshToken() {
    try {
        auto stored = credentials_->Read(config_.credentialTarget);
        if (!stored) {
            return std::nullopt;
        }
        MORVA_LOG_DEBUG("Using refresh token from Credential Manager");
        return std::move(stored->secret);
    } catch (const std::exception& e) {
        MORVA_LOG_WARN("Failed to load refresh token from Credential Manager: {}", e.what());
        return std::nullopt;
    }
}

std::optional<AccessToken> CodeAuthService::TryGetAccessTokenFromRefreshToken(
    const std::u16string& refreshToken) {
    try {
        MORVA_LOG_DEBUG("Requesting access token by refresh token...");
        const AuthTokens tokens =
            authClient_->GetAuthTokensByRefreshToken(Utf16ToUtf8(refreshToken));
        MORVA_LOG_INFO("Successfully received access token using refresh token");
        TrySaveRefreshToken(tokens);
        return tokens.accessToken;
    } catch (const GrantRefusedError& e) {
        MORVA_LOG_WARN("Failed to get access token by refresh token: {}", e.what());
        return std::nullopt;
    } catch (const std::exception& e) {
        // Nothing says the token is bad: kept, and tried again after the pause.
        MORVA_LOG_WARN("Failed to get access token by refresh token: {}", e.what());
        throw;
    }
}

AccessToken CodeAuthService::GetAccessTokenByCode() {
    MORVA_LOG_DEBUG("Starting code authorization");
    // Fresh for every sign-in: a state or verifier used twice would prove nothing.
    const AuthorizationRequest request = AuthorizationRequest::Create();
    const std::u16string code = codeProvider_->GetAuthCode(config_, request);
    if (code.empty()) {
        throw WindowClosedError(
            "Authorization code not received. Window closed without successful sign-in.");
    }
    const AuthTokens tokens = authClient_->GetAuthTokensByCode(
        Utf16ToUtf8(config_.redirectUri), Utf16ToUtf8(code), request.codeVerifier);
    MORVA_LOG_INFO("Successfully received access token using auth code");
    TrySaveRefreshToken(tokens);
    return tokens.accessToken;
}

void CodeAuthService::TrySaveRefreshToken(const AuthTokens& tokens) {
    try {
        MORVA_LOG_DEBUG("Saving refresh token in Credential Manager");
        Credentials credentials;
        credentials.userName = Utf8ToUtf16(tokens.accessToken.jwt.payload.sub);
        credentials.secret = Utf8ToUtf16(tokens.refreshToken);
        credentials_->Write(config_.credentialTarget, credentials);
    } catch (const std::exception& e) {
        MORVA_LOG_WARN("Failed to save credentials to Credential Manager: {}", e.what());
    }
}

}  // namespace morva
