#pragma once

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

    AccessToken GetAccessToken() override;
    std::shared_future<AccessToken> GetAccessTokenAsync() override;

  private:
    std::optional<std::u16string> TryLoadRefreshToken();
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
