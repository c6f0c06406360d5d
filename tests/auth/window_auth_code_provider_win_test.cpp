// What only the Win32 sign-in's WebView2 side does outside a sign-in: a controller that comes
// without a view, WebView2's environment failures, and the window class. The window and its loop
// run with the real WebView2 adapter in webview2_sign_in_win_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "auth/sign_in_window_class.h"
#include "auth/webview2_api.h"
#include "auth/webview2_browser.h"
#include "auth/window_auth_code_provider.h"
#include "base/morva_error.h"

namespace morva {
namespace {

using testing::ThrowsMessage;

AuthConfig Config() {
    return {u"MORVA_Orderbook", u"login.morva.example", "ABC",
            u"morva://login.morva.example/metatrader/morva/callback"};
}

const AuthorizationRequest kRequest = {"s1", "verifier", "challenge"};

// A controller WebView2 reports made whose view is missing all the same; nothing else of it is
// ever asked for.
#define NOT_ASKED(method, ...)                               \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { \
        return E_NOTIMPL;                                    \
    }
class ControllerWithoutView final : public webview2::ICoreWebView2Controller {
  public:
    ULONG references = 1;
    bool closed = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE Close() override {
        closed = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(webview2::ICoreWebView2** view) override {
        *view = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT) override { return S_OK; }
    NOT_ASKED(get_IsVisible, BOOL*)
    NOT_ASKED(get_Bounds, RECT*)
    NOT_ASKED(get_ZoomFactor, double*)
    NOT_ASKED(put_ZoomFactor, double)
    NOT_ASKED(add_ZoomFactorChanged, IUnknown*, webview2::EventRegistrationToken*)
    NOT_ASKED(remove_ZoomFactorChanged, webview2::EventRegistrationToken)
    NOT_ASKED(SetBoundsAndZoomFactor, RECT, double)
    NOT_ASKED(MoveFocus, int)
    NOT_ASKED(add_MoveFocusRequested, IUnknown*, webview2::EventRegistrationToken*)
    NOT_ASKED(remove_MoveFocusRequested, webview2::EventRegistrationToken)
    NOT_ASKED(add_GotFocus, IUnknown*, webview2::EventRegistrationToken*)
    NOT_ASKED(remove_GotFocus, webview2::EventRegistrationToken)
    NOT_ASKED(add_LostFocus, IUnknown*, webview2::EventRegistrationToken*)
    NOT_ASKED(remove_LostFocus, webview2::EventRegistrationToken)
    NOT_ASKED(add_AcceleratorKeyPressed, IUnknown*, webview2::EventRegistrationToken*)
    NOT_ASKED(remove_AcceleratorKeyPressed, webview2::EventRegistrationToken)
    NOT_ASKED(get_ParentWindow, HWND*)
    NOT_ASKED(put_ParentWindow, HWND)
    NOT_ASKED(NotifyParentWindowPositionChanged, void)
};
#undef NOT_ASKED

// Where the adapter hands its browser: configured as the state machine does first, failures kept.
class ConfiguringEvents final : public SignInEvents {
  public:
    std::exception_ptr failure;

    SignInStatus OnCreateWebViewControllerCompleted(
        SignInStatus /*status*/, std::unique_ptr<SignInBrowser> browser) override {
        try {
            browser->Configure();
        } catch (...) {
            failure = std::current_exception();
        }
        return kSignInOk;
    }
    SignInStatus OnWebViewSourceChanged() override { return kSignInOk; }
    SignInStatus OnNavigationStarting(SignInNavigation& /*navigation*/) override {
        return kSignInOk;
    }
    SignInStatus OnNewWindowRequested(SignInNewWindow& /*request*/) override { return kSignInOk; }
    SignInStatus OnCallbackFailed(std::exception_ptr error) override {
        failure = std::move(error);
        return kSignInFailed;
    }
    void OnWindowSize() override {}
};

// WebView2's success without a controller, or a controller without a view, ends the sign-in with
// a text rather than a crash.
TEST(WebView2Controller, SuccessWithoutControllerOrViewFailsTheSignIn) {
    ConfiguringEvents events;
    EXPECT_EQ(OnWebView2ControllerCreated(events, kSignInOk, nullptr), kSignInFailed);
    EXPECT_THAT([&] { std::rethrow_exception(events.failure); },
                ThrowsMessage<MorvaError>("WebView2 returned no controller"));

    ControllerWithoutView controller;
    OnWebView2ControllerCreated(events, kSignInOk, &controller);
    EXPECT_THAT([&] { std::rethrow_exception(events.failure); },
                ThrowsMessage<MorvaError>("WebView2 returned no view"));
    EXPECT_TRUE(controller.closed);
    EXPECT_EQ(controller.references, 1u);  // the browser let go of it
}

TEST(WindowAuthCodeProviderWebView2, WithoutTheLoaderTellsWhereToGetTheRuntime) {
    const HMODULE self = GetModuleHandleW(nullptr);
    const SignInWindowClass windowClass = RegisterSignInWindowClass(self);
    {
        // Neither a WebView2 runtime nor WebView2Loader.dll is installed under Wine.
        WindowAuthCodeProvider provider(self);
        EXPECT_THAT([&] { provider.GetAuthCode(Config(), kRequest); },
                    ThrowsMessage<MorvaError>(
                        "WebView runtime not installed. Download from: "
                        "https://developer.microsoft.com/en-us/microsoft-edge/webview2/"));
    }
}

TEST(WindowAuthCodeProviderWebView2, EnvironmentResultsReadAsTheirTexts) {
    const struct {
        std::uint32_t status;
        std::string text;
    } cases[] = {
        {0x80004005, "WebView runtime unable to start"},
        {0x80070002,
         "WebView runtime not installed. Download from: "
         "https://developer.microsoft.com/en-us/microsoft-edge/webview2/"},
        {0x80070005, "Unable to create user data folder"},
        {0x80070050,
         "WebView user data folder cannot be created because a file with the same name already "
         "exists"},
        {0x8007000E, "Create WebView environment failed (0x8007000E)"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT([&] { ThrowWebViewEnvironmentError(static_cast<std::int32_t>(c.status)); },
                    ThrowsMessage<MorvaError>(c.text));
    }
}

TEST(WindowAuthCodeProviderWindowClass, RegistersOnceAndSaysWhyASecondTimeFails) {
    const HMODULE self = GetModuleHandleW(nullptr);
    SignInWindowClass windowClass = RegisterSignInWindowClass(self);
    ASSERT_TRUE(windowClass);
    EXPECT_THAT(
        [&] { RegisterSignInWindowClass(self); },
        ThrowsMessage<MorvaError>(testing::StartsWith("Register auth window class failed. ")));
    windowClass.reset();
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    EXPECT_FALSE(GetClassInfoExW(self, L"Morva_MetaTrader_Orderbook_Auth", &info));
}

}  // namespace
}  // namespace morva
