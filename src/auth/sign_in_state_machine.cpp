#include "auth/sign_in_state_machine.h"

#include <cstdint>
#include <utility>

#include "auth/sign_in_flow.h"
#include "base/last_error.h"
#include "base/log.h"
#include "base/morva_error.h"

namespace morva {

namespace {

void Check(SignInStatus status, const char* operation) {
    if (status < 0) {
        ThrowStatus(operation, static_cast<std::uint32_t>(status));
    }
}

}  // namespace

WindowAuthCodeProvider::Impl::Impl(std::unique_ptr<SignInWindow> window)
    : window_(std::move(window)) {}

WindowAuthCodeProvider::Impl::~Impl() {
    CloseBrowserAndWindow();
}

std::u16string WindowAuthCodeProvider::Impl::GetAuthCode(const AuthConfig& config,
                                                         const AuthorizationRequest& request) {
    if (open_.exchange(true)) {
        throw MorvaError("Auth window already opened");
    }
    struct Closed {
        std::atomic<bool>& open;
        ~Closed() { open = false; }
    } closed{open_};

    code_.clear();
    error_ = nullptr;
    config_ = config;
    request_ = request;

    try {
        window_->Open(*this);
    } catch (...) {
        // Leaving the hidden window behind would refuse every later sign-in.
        CloseBrowserAndWindow();
        throw;
    }

    MORVA_LOG_DEBUG("Starting auth window message loop");
    window_->RunLoop();
    CloseBrowserAndWindow();

    if (error_ != nullptr) {
        MORVA_LOG_ERROR("Auth window message loop has finished with an error");
        std::rethrow_exception(std::exchange(error_, nullptr));
    }
    MORVA_LOG_DEBUG("Auth window message loop has finished successfully");
    return std::exchange(code_, std::u16string());
}

template <class Step>
SignInStatus WindowAuthCodeProvider::Impl::Guarded(Step&& step) noexcept {
    try {
        step();
        return kSignInOk;
    } catch (...) {
        return OnCallbackFailed(std::current_exception());
    }
}

SignInStatus WindowAuthCodeProvider::Impl::OnCallbackFailed(std::exception_ptr failure) {
    error_ = std::move(failure);  // a later failure replaces an earlier one
    window_->EndLoop(1);
    return kSignInFailed;
}

SignInStatus WindowAuthCodeProvider::Impl::OnCreateWebViewControllerCompleted(
    SignInStatus status, std::unique_ptr<SignInBrowser> browser) {
    return Guarded([&] {
        if (status == kSignInAborted) {
            MORVA_LOG_WARN("The authorization has been aborted because the window was closed");
            return;
        }
        Check(status, "Complete controller creation");
        browser_ = std::move(browser);
        Check(browser_->SetVisible(false), "Hide WebView on start");
        browser_->Configure();
        MORVA_LOG_DEBUG("Successfully configured WebView");
        Check(browser_->SubscribeSourceChanged(), "Subscribe to WebView source change");
        Check(browser_->SubscribeNavigationStarting(), "Subscribe to WebView navigation");
        Check(browser_->SubscribeNewWindowRequested(), "Subscribe to WebView new windows");
        Check(browser_->Navigate(BuildAuthorizeUrl(config_, request_)),
              "Navigate to authorize page");
    });
}

SignInStatus WindowAuthCodeProvider::Impl::OnWebViewSourceChanged() {
    return Guarded([&] {
        // Hidden until the first page arrives, so the user never sees an empty frame.
        if (window_->IsVisible()) {
            return;
        }
        MORVA_LOG_INFO("Showing authorization window");
        window_->Show();
        Check(browser_->SetVisible(true), "Show WebView");
        FitBrowserToWindow();
    });
}

SignInStatus WindowAuthCodeProvider::Impl::OnNavigationStarting(SignInNavigation& navigation) {
    return Guarded([&] {
        std::u16string uri;
        Check(navigation.GetUri(uri), "Get WebView URI");
        if (!IsRedirect(uri, config_.redirectUri)) {
            return;  // the authorize page and every page of the sign-in
        }
        MORVA_LOG_INFO("Completed interactive authorization");
        Check(navigation.Cancel(), "Cancel WebView loading the final redirect URL");
        // Before the completion page: a refused redirect completed nothing.
        code_ = ReadAuthorizationCode(uri, request_.state);
        Check(browser_->NavigateToString(std::u16string(kCompletionPage)),
              "Navigate WebView to string with completion information");
        MORVA_LOG_DEBUG("Automatically closing authorization window");
        window_->PostClose();
    });
}

SignInStatus WindowAuthCodeProvider::Impl::OnNewWindowRequested(SignInNewWindow& request) {
    return Guarded([&] {
        // A window of its own would be a browser whose navigations nobody watches.
        Check(request.Refuse(), "Refuse WebView new window");
        std::u16string uri;
        Check(request.GetUri(uri), "Get WebView new window URI");
        if (!FollowsNewWindow(uri, config_.redirectUri)) {
            MORVA_LOG_WARN("Refused a new window for a page that is not on the web");
            return;
        }
        Check(browser_->Navigate(uri), "Navigate WebView to the page of a new window");
    });
}

void WindowAuthCodeProvider::Impl::OnWindowSize() {
    FitBrowserToWindow();
}

void WindowAuthCodeProvider::Impl::FitBrowserToWindow() {
    if (browser_ != nullptr && window_->Exists()) {
        browser_->SetBounds(window_->ClientRect());  // a failed fit is not worth ending the sign-in
    }
}

void WindowAuthCodeProvider::Impl::CloseBrowserAndWindow() noexcept {
    if (browser_ != nullptr) {
        browser_->Close();
        browser_.reset();
    }
    window_->Destroy();
}

}  // namespace morva
