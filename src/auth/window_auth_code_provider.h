#pragma once

#include <memory>
#include <string>

#include "auth/auth_code_provider.h"
#include "config/auth_config.h"

namespace morva {

class SignInBrowserFactory;

// Signs the user in inside a browser window: WebView2 in a Win32 window on Windows, WebKitGTK in
// a GTK window elsewhere. GetAuthCode shows the authorization server's page, catches the redirect
// to the client's redirect URI and returns its code, or an empty text when the user closed the
// window first. One sign-in at a time; a second one meanwhile fails with "Auth window already
// opened".
//
// Windows: the window and its message loop live on the calling thread, which becomes a
// single-threaded COM apartment. Elsewhere: one GTK thread owned by the provider (started on
// first use, joined by the destructor) runs every window; GetAuthCode hands its request over and
// waits, so any thread may call it. Without a display it fails at once.
//
// Each sign-in's browser keeps its profile in a BrowserDataFolder of its own, made when the window
// opens and removed once the window and the browser are gone; leftovers of earlier processes are
// removed first.
class WindowAuthCodeProvider : public AuthCodeProvider {
  public:
    // moduleInstance: the library's own module handle (Windows: owner of the window class, and
    // where WebView2Loader.dll is looked for first).
    explicit WindowAuthCodeProvider(void* moduleInstance);
    // With a browser other than the platform's own: tests drive the real window with a scripted
    // one.
    WindowAuthCodeProvider(void* moduleInstance, std::shared_ptr<SignInBrowserFactory> browsers);
    // Closes a window still open; never throws.
    ~WindowAuthCodeProvider() override;
    WindowAuthCodeProvider(const WindowAuthCodeProvider&) = delete;
    WindowAuthCodeProvider& operator=(const WindowAuthCodeProvider&) = delete;

    std::u16string GetAuthCode(const AuthConfig& config,
                               const AuthorizationRequest& request) override;

    class Impl;

  private:
    struct Platform;

    std::unique_ptr<Platform> platform_;
    std::unique_ptr<Impl> impl_;
};

// The provider the module hands to its token service: a WindowAuthCodeProvider with the
// platform's browser.
std::shared_ptr<AuthCodeProvider> CreatePlatformAuthCodeProvider(void* moduleInstance);

}  // namespace morva
