// The Win32 sign-in window and its message loop, under a scripted browser (the real WebView2
// adapter has tests of its own, webview2_sign_in_win_test.cpp): each step of a script runs from a
// timer inside the window's loop, as the real browser's callbacks do. Under Wine it runs through
// tests/auth/run_headless_wine.sh, since windows need a display driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "auth/sign_in_window_class.h"
#include "auth/webview2_api.h"
#include "auth/webview2_browser.h"
#include "auth/window_auth_code_provider.h"
#include "base/morva_error.h"
#include "support/private_temp_win.h"
#include "support/scripted_browser.h"
#include "util/utf.h"

namespace morva {
namespace {

using test::PrivateTemp;
using test::ScriptedBrowser;
using test::ScriptedRequest;
using testing::ThrowsMessage;

const std::u16string kRedirect = u"morva://login.morva.example/metatrader/morva/callback";

AuthConfig Config() {
    return {u"MORVA_Orderbook", u"login.morva.example", "ABC", kRedirect};
}

// Redirects of this sign-in carry state=s1.
const AuthorizationRequest kRequest = {"s1", "verifier", "challenge"};

// Starts no browser; runs its script one step per timer tick from inside the window's loop.
class ScriptedBrowserFactory final : public SignInBrowserFactory {
  public:
    using Step = std::function<void(HWND, SignInEvents&)>;

    std::deque<Step> script;
    std::vector<HWND> windows;  // every window a browser was started in
    std::function<void()> startFailure;

    ~ScriptedBrowserFactory() override { StopTimer(); }

    void Start(void* window, const std::filesystem::path& /*dataFolder*/,
               SignInEvents& events) override {
        windows.push_back(static_cast<HWND>(window));
        if (startFailure) {
            startFailure();
        }
        window_ = static_cast<HWND>(window);
        events_ = &events;
        active_ = this;
        timer_ = SetTimer(nullptr, 0, 1, &Tick);
        ASSERT_NE(timer_, 0u);
    }

  private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        ScriptedBrowserFactory* self = active_;
        if (self == nullptr) {
            return;
        }
        if (self->script.empty()) {
            self->StopTimer();
            ADD_FAILURE() << "script ran out before the sign-in ended";
            PostQuitMessage(2);
            return;
        }
        Step step = std::move(self->script.front());
        self->script.pop_front();
        step(self->window_, *self->events_);
    }
    void StopTimer() {
        if (timer_ != 0) {
            KillTimer(nullptr, timer_);
            timer_ = 0;
        }
        if (active_ == this) {
            active_ = nullptr;
        }
    }

    static inline ScriptedBrowserFactory* active_ = nullptr;  // one loop per test thread
    HWND window_ = nullptr;
    SignInEvents* events_ = nullptr;
    UINT_PTR timer_ = 0;
};

class WindowAuthCodeProviderWinTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        windowClass_ = RegisterSignInWindowClass(GetModuleHandleW(nullptr));
        ASSERT_TRUE(windowClass_);
    }
    static void TearDownTestSuite() { windowClass_.reset(); }

    void BrowserReady() {
        Then([this](HWND, SignInEvents& events) {
            EXPECT_EQ(events.OnCreateWebViewControllerCompleted(
                          kSignInOk, std::make_unique<ScriptedBrowser>(browser)),
                      kSignInOk);
        });
    }
    void PageShown() {
        Then([](HWND window, SignInEvents& events) {
            EXPECT_FALSE(IsWindowVisible(window));  // hidden until the first page arrives
            EXPECT_EQ(events.OnWebViewSourceChanged(), kSignInOk);
            EXPECT_TRUE(IsWindowVisible(window));
        });
    }
    void UserCloses() {
        // The close button: WM_CLOSE, whose default handling destroys the window.
        Then([](HWND window, SignInEvents&) { SendMessageW(window, WM_CLOSE, 0, 0); });
    }
    void Then(ScriptedBrowserFactory::Step step) { browsers->script.push_back(std::move(step)); }

    PrivateTemp temp;  // where the sign-ins' data folders go
    std::shared_ptr<test::BrowserLog> browser = std::make_shared<test::BrowserLog>();
    std::shared_ptr<ScriptedBrowserFactory> browsers = std::make_shared<ScriptedBrowserFactory>();
    WindowAuthCodeProvider provider{GetModuleHandleW(nullptr), browsers};

  private:
    static inline SignInWindowClass windowClass_;
};

TEST_F(WindowAuthCodeProviderWinTest, WindowHasTheClassTitleSizeAndStyleOfTheSignIn) {
    Then([](HWND window, SignInEvents&) {
        wchar_t text[64] = {};
        GetClassNameW(window, text, 64);
        EXPECT_EQ(std::wstring(text), L"Morva_MetaTrader_Orderbook_Auth");
        GetWindowTextW(window, text, 64);
        EXPECT_EQ(std::wstring(text), L"Morva Sign-in");
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.right - rect.left, 800);
        // Windows keeps a window within what the screen can hold (Wine's headless screen is small).
        EXPECT_EQ(rect.bottom - rect.top, std::min(1000, GetSystemMetrics(SM_CYMAXTRACK)));
        EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
        EXPECT_EQ(GetParent(window), nullptr);
        EXPECT_FALSE(IsWindowVisible(window));
    });
    UserCloses();
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"");
}

// Each window is destroyed after its loop, whichever way the loop ended; nothing from one sign-in
// (no stray quit message) may end the next early.
TEST_F(WindowAuthCodeProviderWinTest, EachSignInDestroysItsWindowAfterTheLoopAndTheThreadGoesOn) {
    BrowserReady();
    Then([](HWND, SignInEvents& events) {
        ScriptedRequest navigation(kRedirect + u"?error=access_denied&state=s1");
        EXPECT_EQ(events.OnNavigationStarting(navigation), kSignInFailed);
    });
    EXPECT_THAT([this] { provider.GetAuthCode(Config(), kRequest); },
                ThrowsMessage<MorvaError>("Authorization error: access_denied (no description)"));
    EXPECT_FALSE(IsWindow(browsers->windows.back()));

    for (const char16_t* code : {u"first", u"second"}) {
        BrowserReady();
        PageShown();
        Then([code](HWND window, SignInEvents& events) {
            ScriptedRequest navigation(kRedirect + u"?code=" + code + u"&state=s1");
            EXPECT_EQ(events.OnNavigationStarting(navigation), kSignInOk);
            EXPECT_TRUE(IsWindow(window));  // destroyed after the loop, not by the posted message
        });
        EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), code);
        EXPECT_FALSE(IsWindow(browsers->windows.back()));
    }
    EXPECT_EQ(browsers->windows.size(), 3u);
}

TEST_F(WindowAuthCodeProviderWinTest, ResizingFitsTheBrowserToTheClientArea) {
    BrowserReady();
    Then([this](HWND window, SignInEvents&) {
        browser->calls.clear();
        SetWindowPos(window, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_THAT(browser->calls, testing::Contains("SetBounds(" + std::to_string(client.right) +
                                                      "x" + std::to_string(client.bottom) + ")"));
    });
    UserCloses();
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"");
}

TEST_F(WindowAuthCodeProviderWinTest, BrowserThatCannotStartFailsAtOnceAndLeavesNoWindow) {
    browsers->startFailure = [] {
        ThrowWebViewEnvironmentError(static_cast<std::int32_t>(0x80070005));
    };
    EXPECT_THAT([this] { provider.GetAuthCode(Config(), kRequest); },
                ThrowsMessage<MorvaError>("Unable to create user data folder"));
    EXPECT_FALSE(IsWindow(browsers->windows.at(0)));

    browsers->startFailure = nullptr;
    UserCloses();
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"");  // not "Auth window already opened"
}

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

// WebView2's success without a controller, or a controller without a view, ends the sign-in with
// a text rather than a crash.
TEST_F(WindowAuthCodeProviderWinTest, SuccessWithoutControllerOrViewFailsTheSignIn) {
    Then([](HWND, SignInEvents& events) {
        EXPECT_EQ(OnWebView2ControllerCreated(events, kSignInOk, nullptr), kSignInFailed);
    });
    EXPECT_THAT([this] { provider.GetAuthCode(Config(), kRequest); },
                ThrowsMessage<MorvaError>("WebView2 returned no controller"));
    EXPECT_FALSE(IsWindow(browsers->windows.at(0)));

    ControllerWithoutView controller;
    Then([&controller](HWND, SignInEvents& events) {
        EXPECT_EQ(OnWebView2ControllerCreated(events, kSignInOk, &controller), kSignInFailed);
    });
    EXPECT_THAT([this] { provider.GetAuthCode(Config(), kRequest); },
                ThrowsMessage<MorvaError>("WebView2 returned no view"));
    EXPECT_FALSE(IsWindow(browsers->windows.at(1)));
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
