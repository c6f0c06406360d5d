#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <string>

#include "auth/authorization_request.h"
#include "auth/sign_in_browser.h"
#include "auth/window_auth_code_provider.h"
#include "config/auth_config.h"

namespace morva {

// The sign-in's state machine, the same on every platform: hidden window until the browser's
// source first changes, redirect caught and cancelled, completion page, window closed. No page
// gets a window of its own: the view itself goes to a new window's web page or redirect, where
// navigations are watched as ever. A failure in any callback is recorded, ends the loop and is
// rethrown by GetAuthCode. The platform adapts a window (with its loop) and a browser to it; all
// of it runs on the window's thread.
class WindowAuthCodeProvider::Impl final : public SignInEvents {
  public:
    explicit Impl(std::unique_ptr<SignInWindow> window);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Blocks in the window's loop until the window is gone. Returns the code, or empty when the
    // user closed the window; throws MorvaError.
    std::u16string GetAuthCode(const AuthConfig& config, const AuthorizationRequest& request);

    SignInStatus OnCreateWebViewControllerCompleted(
        SignInStatus status, std::unique_ptr<SignInBrowser> browser) override;
    SignInStatus OnWebViewSourceChanged() override;
    SignInStatus OnNavigationStarting(SignInNavigation& navigation) override;
    SignInStatus OnNewWindowRequested(SignInNewWindow& request) override;
    SignInStatus OnCallbackFailed(std::exception_ptr failure) override;
    void OnWindowSize() override;

    SignInWindow& window() noexcept { return *window_; }

  private:
    template <class Step>
    SignInStatus Guarded(Step&& step) noexcept;
    void FitBrowserToWindow();
    void CloseBrowserAndWindow() noexcept;

    std::unique_ptr<SignInWindow> window_;
    // Set for the whole of a GetAuthCode, so that a call from another thread is refused safely.
    std::atomic<bool> open_ = false;
    std::u16string code_;
    std::exception_ptr error_;
    AuthConfig config_;
    AuthorizationRequest request_;
    std::unique_ptr<SignInBrowser> browser_;
};

}  // namespace morva
