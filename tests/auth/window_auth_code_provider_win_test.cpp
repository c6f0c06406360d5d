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

#include "auth/sign_in_browser.h"
#include "auth/sign_in_window_class.h"
#include "auth/webview2_api.h"
#include "auth/webview2_browser.h"
#include "auth/window_auth_code_provider.h"
#include "base/morva_error.h"
#include "support/captured_log.h"
#include "support/private_temp_win.h"
#include "util/utf.h"

namespace morva {
namespace {

using test::PrivateTemp;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::ThrowsMessage;

const std::u16string kRedirect = u"morva://login.morva.example/metatrader/morva/callback";

AuthConfig Config() {
    return {u"MORVA_Orderbook", u"login.morva.example", "ABC", kRedirect};
}

// Redirects of this sign-in carry state=s1.
const AuthorizationRequest kRequest = {"s1", "verifier", "challenge"};

struct BrowserCalls {
    std::vector<std::string> calls;
};

class ScriptedBrowser final : public SignInBrowser {
  public:
    explicit ScriptedBrowser(std::shared_ptr<BrowserCalls> log) : log_(std::move(log)) {}
    SignInStatus SetVisible(bool visible) override {
        return Record(visible ? "SetVisible(true)" : "SetVisible(false)");
    }
    SignInStatus SetBounds(const SignInRect& bounds) override {
        return Record("SetBounds(" + std::to_string(bounds.right - bounds.left) + "x" +
                      std::to_string(bounds.bottom - bounds.top) + ")");
    }
    void Configure() override { Record("Configure"); }
    SignInStatus SubscribeSourceChanged() override { return Record("SubscribeSource"); }
    SignInStatus SubscribeNavigationStarting() override { return Record("SubscribeNavigation"); }
    SignInStatus SubscribeNewWindowRequested() override { return Record("SubscribeNewWindow"); }
    SignInStatus Navigate(const std::u16string& url) override {
        return Record("Navigate(" + Utf16ToUtf8(url) + ")");
    }
    SignInStatus NavigateToString(const std::u16string&) override {
        return Record("NavigateToString");
    }
    void Close() noexcept override { log_->calls.push_back("Close"); }

  private:
    SignInStatus Record(std::string call) {
        log_->calls.push_back(std::move(call));
        return kSignInOk;
    }
    std::shared_ptr<BrowserCalls> log_;
};

struct Navigation final : SignInNavigation {
    explicit Navigation(std::u16string target) : uri(std::move(target)) {}
    SignInStatus GetUri(std::u16string& out) override {
        out = uri;
        return kSignInOk;
    }
    SignInStatus Cancel() override {
        cancelled = true;
        return kSignInOk;
    }
    std::u16string uri;
    bool cancelled = false;
};

// Starts no browser; runs its script one step per timer tick from inside the window's loop.
class ScriptedBrowserFactory final : public SignInBrowserFactory {
  public:
    using Step = std::function<void(HWND, SignInEvents&)>;

    std::deque<Step> script;
    std::vector<HWND> windows;  // every window a browser was started in
    // The data folder each was given.
    std::vector<std::filesystem::path> dataFolders;
    std::function<void()> startFailure;

    ~ScriptedBrowserFactory() override { StopTimer(); }

    void Start(void* window, const std::filesystem::path& dataFolder,
               SignInEvents& events) override {
        windows.push_back(static_cast<HWND>(window));
        dataFolders.push_back(dataFolder);
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

    PrivateTemp temp;
    std::shared_ptr<BrowserCalls> browser = std::make_shared<BrowserCalls>();
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

TEST_F(WindowAuthCodeProviderWinTest, ClosingBeforeTheBrowserIsReadyGivesAnEmptyCode) {
    const test::CapturedLog log(spdlog::level::debug);
    Then([](HWND window, SignInEvents& events) {
        SendMessageW(window, WM_CLOSE, 0, 0);
        // WebView2 reports the abandoned controller once its parent window is gone.
        EXPECT_EQ(events.OnCreateWebViewControllerCompleted(kSignInAborted, nullptr), kSignInOk);
    });
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"");
    EXPECT_FALSE(IsWindow(browsers->windows.at(0)));
    EXPECT_THAT(log.Lines(), HasSubstr("warning|morva::WindowAuthCodeProvider::Impl::"
                                       "OnCreateWebViewControllerCompleted|The authorization has "
                                       "been aborted because the window was closed\n"));
}

TEST_F(WindowAuthCodeProviderWinTest, ClosingDuringTheSignInGivesAnEmptyCode) {
    const test::CapturedLog log(spdlog::level::debug);
    BrowserReady();
    PageShown();
    UserCloses();
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"");
    EXPECT_FALSE(IsWindow(browsers->windows.at(0)));
    EXPECT_EQ(browser->calls.back(), "Close");
    EXPECT_THAT(log.Lines(), HasSubstr("debug|morva::WindowAuthCodeProvider::Impl::GetAuthCode|"
                                       "Auth window message loop has finished successfully\n"));
}

TEST_F(WindowAuthCodeProviderWinTest, RedirectCompletesTheSignInAndDestroysTheWindow) {
    BrowserReady();
    PageShown();
    Then([](HWND window, SignInEvents& events) {
        Navigation navigation(kRedirect + u"?code=abc&state=s1");
        EXPECT_EQ(events.OnNavigationStarting(navigation), kSignInOk);
        EXPECT_TRUE(navigation.cancelled);
        EXPECT_TRUE(IsWindow(window));  // destroyed after the loop, not by the posted message
    });
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"abc");
    EXPECT_FALSE(IsWindow(browsers->windows.at(0)));
    EXPECT_THAT(browser->calls, testing::Contains("NavigateToString"));
    EXPECT_THAT(browser->calls, testing::Contains(testing::StartsWith("SetBounds(")));
}

TEST_F(WindowAuthCodeProviderWinTest, OneThreadSignsInAgainAfterACompletedSignIn) {
    for (const char16_t* code : {u"first", u"second"}) {
        BrowserReady();
        Then([code](HWND, SignInEvents& events) {
            Navigation navigation(kRedirect + u"?code=" + code + u"&state=s1");
            events.OnNavigationStarting(navigation);
        });
        // Nothing from the first sign-in (no stray quit message) may end the second one early.
        EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), code);
    }
    EXPECT_EQ(browsers->windows.size(), 2u);
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

TEST_F(WindowAuthCodeProviderWinTest, FailingCallbackEndsTheLoopAndIsRethrown) {
    const test::CapturedLog log(spdlog::level::debug);
    BrowserReady();
    Then([](HWND, SignInEvents& events) {
        Navigation navigation(kRedirect + u"?error=access_denied&state=s1");
        EXPECT_EQ(events.OnNavigationStarting(navigation), kSignInFailed);
    });
    EXPECT_THAT([this] { provider.GetAuthCode(Config(), kRequest); },
                ThrowsMessage<MorvaError>("Authorization error: access_denied (no description)"));
    EXPECT_FALSE(IsWindow(browsers->windows.at(0)));
    EXPECT_THAT(log.Lines(), HasSubstr("error|morva::WindowAuthCodeProvider::Impl::GetAuthCode|"
                                       "Auth window message loop has finished with an error\n"));
}

TEST_F(WindowAuthCodeProviderWinTest, SecondSignInWhileTheWindowExistsIsRefused) {
    BrowserReady();
    Then([this](HWND, SignInEvents&) {
        EXPECT_THAT([this] { provider.GetAuthCode(Config(), kRequest); },
                    ThrowsMessage<MorvaError>("Auth window already opened"));
    });
    UserCloses();
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"");
    EXPECT_EQ(browsers->windows.size(), 1u);
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

// A controller WebView2 reports made whose view is missing all the same.
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
    HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Bounds(RECT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(IUnknown*,
                                                    webview2::EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(webview2::EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveFocus(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(IUnknown*,
                                                     webview2::EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(webview2::EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_GotFocus(IUnknown*, webview2::EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_GotFocus(webview2::EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_LostFocus(IUnknown*, webview2::EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_LostFocus(webview2::EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    add_AcceleratorKeyPressed(IUnknown*, webview2::EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    remove_AcceleratorKeyPressed(webview2::EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override {
        closed = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(webview2::ICoreWebView2** view) override {
        *view = nullptr;
        return S_OK;
    }
};

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
        EXPECT_THAT([&] { provider.GetAuthCode(Config(), kRequest); },
                    ThrowsMessage<MorvaError>(HasSubstr("WebView runtime not installed")));
    }
}

TEST(WindowAuthCodeProviderWebView2, EnvironmentResultsReadAsTheirTexts) {
    const auto text = [](std::uint32_t status) {
        try {
            ThrowWebViewEnvironmentError(static_cast<std::int32_t>(status));
        } catch (const MorvaError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(text(0x80004005), "WebView runtime unable to start");
    EXPECT_EQ(text(0x80070002),
              "WebView runtime not installed. Download from: "
              "https://developer.microsoft.com/en-us/microsoft-edge/webview2/");
    EXPECT_EQ(text(0x80070005), "Unable to create user data folder");
    EXPECT_EQ(text(0x80070050),
              "WebView user data folder cannot be created because a file with the same name "
              "already exists");
    EXPECT_EQ(text(0x8007000E), "Create WebView environment failed (0x8007000E)");
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

TEST_F(WindowAuthCodeProviderWinTest, EachSignInHasADataFolderOfItsOwnThatGoesWithTheWindow) {
    const auto folderInUse = [this] {
        Then([this](HWND, SignInEvents&) {
            EXPECT_THAT(temp.DataFolders(),
                        ElementsAre(browsers->dataFolders.back().filename().string()));
        });
    };
    BrowserReady();
    folderInUse();
    Then([](HWND, SignInEvents& events) {
        Navigation navigation(kRedirect + u"?code=abc&state=s1");
        events.OnNavigationStarting(navigation);
    });
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"abc");
    EXPECT_THAT(temp.DataFolders(), IsEmpty());

    folderInUse();
    UserCloses();
    EXPECT_EQ(provider.GetAuthCode(Config(), kRequest), u"");
    EXPECT_THAT(temp.DataFolders(), IsEmpty());
    EXPECT_NE(browsers->dataFolders.at(0), browsers->dataFolders.at(1));
}

}  // namespace
}  // namespace morva
