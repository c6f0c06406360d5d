#include "auth/code_auth_service.h"

#include <chrono>
#include <exception>
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
        } catch (const std::exception& e) {
            // Kept for the life of the service: a failed sign-in is not retried on its own.
            MORVA_LOG_ERROR("Authorization failed: {}", e.what());
        }
    }
    return authorization_;
}

void CodeAuthService::StartAuthorization() {
    std::promise<AccessToken> result;
    authorization_ = result.get_future().share();
    // Detached: the thread owns its share of the service and nobody ever waits to join it.
    try {
        std::thread([self = shared_from_this(), result = std::move(result)]() mutable {
            try {
                result.set_value(self->GetAccessToken());
            } catch (...) {
                result.set_exception(std::current_exception());
            }
        }).detach();
    } catch (const std::system_error& e) {
        // The promise went down with the thread that never started: the future reports a broken
        // promise, which is kept like any other failed authorization.
        MORVA_LOG_ERROR("Could not start authorization: {}", e.what());
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
    } catch (const std::exception& e) {
        MORVA_LOG_WARN("Failed to get access token by refresh token: {}", e.what());
        return std::nullopt;
    }
}

AccessToken CodeAuthService::GetAccessTokenByCode() {
    MORVA_LOG_DEBUG("Starting code authorization");
    const std::u16string code = codeProvider_->GetAuthCode(config_);
    if (code.empty()) {
        throw MorvaError(
            "Authorization code not received. Window closed without successful sign-in.");
    }
    const AuthTokens tokens =
        authClient_->GetAuthTokensByCode(Utf16ToUtf8(config_.redirectUri), Utf16ToUtf8(code));
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
