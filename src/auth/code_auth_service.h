#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "auth/auth_client.h"
#include "auth/auth_code_provider.h"
#include "auth/auth_service.h"
#include "auth/credential_store.h"
#include "config/auth_config.h"
#include "util/clock.h"

namespace morva {

// Hands out access tokens: the cached one while it is valid, else one from the stored refresh
// token, else one from an interactive sign-in. Every refresh token received is stored, so the
// next run of the terminal signs in silently.
//
// A failed authorization is handed out, with the time left until the next attempt, for a pause;
// the first call after it starts a new one. The pause is long after the user closed the window
// (the window does not chase someone who dismissed it) and short after any other failure (a
// network drop, a 5xx, a timeout). Only the endpoint's refusal of the stored refresh token, or no
// stored token, opens the window: a renewal that merely failed keeps the token for the next try.
//
// An authorization runs on a thread of its own that keeps the service alive until it ends, so
// destroying the service never waits for a sign-in window: the library may be unloaded (under the
// loader lock, where waiting for a thread deadlocks) while the user still looks at it. Hence the
// service exists only in shared ownership.
class CodeAuthService final : public AuthService,
                              public std::enable_shared_from_this<CodeAuthService> {
    struct Passkey {};

  public:
    static std::shared_ptr<CodeAuthService> Create(
        AuthConfig config, std::shared_ptr<AuthCodeProvider> codeProvider,
        std::shared_ptr<AuthClient> authClient,
        std::shared_ptr<CredentialStore> credentials = CreatePlatformCredentialStore(),
        std::shared_ptr<const Clock> clock = RealClock());

    CodeAuthService(Passkey, AuthConfig config, std::shared_ptr<AuthCodeProvider> codeProvider,
                    std::shared_ptr<AuthClient> authClient,
                    std::shared_ptr<CredentialStore> credentials,
                    std::shared_ptr<const Clock> clock);

    static constexpr std::chrono::seconds kPauseAfterFailure{30};
    static constexpr std::chrono::seconds kPauseAfterClosedWindow{300};

    AccessToken GetAccessToken() override;
    std::shared_future<AccessToken> GetAccessTokenAsync() override;

  private:
    std::optional<std::u16string> TryLoadRefreshToken();
    // Empty when the endpoint refused the token; any other failure throws.
    std::optional<AccessToken> TryGetAccessTokenFromRefreshToken(
        const std::u16string& refreshToken);
    AccessToken GetAccessTokenByCode();
    void TrySaveRefreshToken(const AuthTokens& tokens);
    void StartAuthorization();

    const AuthConfig config_;
    const std::shared_ptr<AuthCodeProvider> codeProvider_;
    const std::shared_ptr<AuthClient> authClient_;
    const std::shared_ptr<CredentialStore> credentials_;
    const std::shared_ptr<const Clock> clock_;

    // Callers on different terminal threads reach GetAccessTokenAsync at once; it never waits
    // while holding this.
    std::mutex authorizationMutex_;
    std::shared_future<AccessToken> authorization_;  // guarded by authorizationMutex_
};

}  // namespace morva
