// The Win32 sign-in window with the library's real WebView2 adapter, in front of a fake runtime
// (tools/fake-webview2-runtime) that WEBVIEW2_BROWSER_EXECUTABLE_FOLDER names, as it would
// a fixed-version runtime; and what the adapter does outside a sign-in. Under Wine through
// tests/auth/run_headless_wine.sh, since windows need a display driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "auth/sign_in_flow.h"
#include "auth/sign_in_window_class.h"
#include "auth/webview2_browser.h"
#include "auth/window_auth_code_provider.h"
#include "base/module_path.h"
#include "base/morva_error.h"
#include "base/native_library.h"
#include "fake-webview2-runtime/fake_webview2_runtime.h"
#include "support/files.h"
#include "support/private_temp_win.h"
#include "util/utf.h"

namespace morva {
namespace {

namespace fake = test::fake_webview2;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::IsSupersetOf;
using testing::Not;
using testing::StartsWith;
using testing::ThrowsMessage;

const std::u16string kRedirect = u"morva://login.morva.example/metatrader/morva/callback";
const char* const kRedirectUtf8 = "morva://login.morva.example/metatrader/morva/callback";

AuthConfig Config() {
    return {u"MORVA_Orderbook_FakeRuntime", u"login.morva.example", "ABC", kRedirect};
}

// A state the authorize URL and the redirect both carry percent-encoded.
const AuthorizationRequest kRequest = {"st/1+2", "verifier", "challenge"};
const std::string kEncodedState = "st%2F1%2B2";

const std::string kAuthorizeUrl = Utf16ToUtf8(BuildAuthorizeUrl(Config(), kRequest));
const std::string kSignInWindowClass = "Morva_MetaTrader_Orderbook_Auth";

std::filesystem::path ProgramFolder() {
    return ModuleFilePath(GetModuleHandleW(nullptr)).parent_path();
}

std::string Utf8(const std::filesystem::path& path) {
    const std::wstring wide = path.wstring();
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::filesystem::path ClientLibrary(const std::filesystem::path& runtimeFolder) {
    return runtimeFolder / L"EBWebView" / (sizeof(void*) == 8 ? L"x64" : L"x86") /
           L"EmbeddedBrowserWebView.dll";
}

// WEBVIEW2_BROWSER_EXECUTABLE_FOLDER for as long as this lives: set in this process only, so
// nothing in the Wine prefix changes.
class RuntimeFolderSetting {
  public:
    explicit RuntimeFolderSetting(const std::filesystem::path& folder) {
        _wputenv_s(kName, folder.c_str());
    }
    ~RuntimeFolderSetting() { _wputenv_s(kName, L""); }
    RuntimeFolderSetting(const RuntimeFolderSetting&) = delete;
    RuntimeFolderSetting& operator=(const RuntimeFolderSetting&) = delete;

  private:
    static constexpr const wchar_t* kName = L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER";
};

// The fake runtime as the test sees it: loaded here too, so that its journal outlives the
// library's use of it.
class FakeRuntime {
  public:
    static std::filesystem::path Folder() { return ProgramFolder() / L"fake_webview2_runtime"; }

    FakeRuntime()
        : library_(NativeLibrary::Open(ClientLibrary(Folder()))),
          reset_(Resolve<fake::ResetFn>(fake::kReset)),
          journal_(Resolve<fake::JournalFn>(fake::kJournal)),
          liveObjects_(Resolve<fake::LiveObjectsFn>(fake::kLiveObjects)) {}

    void Reset(const wchar_t* signInCode, fake::Observer observer = nullptr,
               void* context = nullptr) const {
        reset_(signInCode, observer, context);
    }

    // One entry a line, in UTF-8.
    std::vector<std::string> Journal() const {
        std::wstring text(journal_(nullptr, 0), L'\0');
        text.resize(std::min(text.size(), journal_(text.data(), text.size())));
        std::vector<std::string> entries;
        std::wistringstream lines(text);
        for (std::wstring entry; std::getline(lines, entry);) {
            entries.push_back(Utf16ToUtf8(std::u16string(entry.begin(), entry.end())));
        }
        return entries;
    }

    // The journal without the settings and sizes, which the order of events does not depend on.
    std::vector<std::string> Events() const {
        std::vector<std::string> events = Journal();
        std::erase_if(events, [](const std::string& entry) {
            return entry.starts_with("setting ") || entry.starts_with("bounds ");
        });
        return events;
    }

    long LiveObjects() const { return liveObjects_(); }

  private:
    template <class Pointer>
    Pointer Resolve(const char* name) const {
        return library_.Symbol<std::remove_pointer_t<Pointer>>(name);
    }

    NativeLibrary library_;
    fake::ResetFn reset_;
    fake::JournalFn journal_;
    fake::LiveObjectsFn liveObjects_;
};

// The user in front of the sign-in's window: closes it once the journal has an entry that starts
// with `closeOn`, when there is one.
struct User {
    const wchar_t* closeOn = nullptr;
    HWND window = nullptr;
};

void WatchAndClose(const wchar_t* entry, HWND parent, void* context) {
    User& user = *static_cast<User*>(context);
    if (parent != nullptr) {
        user.window = parent;
    }
    if (user.closeOn != nullptr && std::wstring_view(entry).starts_with(user.closeOn)) {
        PostMessageW(parent, WM_CLOSE, 0, 0);
    }
}

// Looks at the window as it was made; once it is shown and the browser fitted to it, makes it
// smaller, keeping its new client area in `context`, and closes it.
void InspectResizeAndClose(const wchar_t* entry, HWND window, void* context) {
    RECT& client = *static_cast<RECT*>(context);
    const std::wstring_view text(entry);
    if (text.starts_with(L"controller parent=")) {
        wchar_t title[64] = {};
        GetWindowTextW(window, title, 64);
        EXPECT_STREQ(title, L"Morva Sign-in");
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.right - rect.left, 800);
        // Windows keeps a window within what the screen can hold (Wine's headless screen is small).
        EXPECT_EQ(rect.bottom - rect.top, std::min(1000, GetSystemMetrics(SM_CYMAXTRACK)));
        EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
        EXPECT_FALSE(IsWindowVisible(window));  // until the first page arrives
    } else if (text.starts_with(L"bounds ") && client.right == 0) {
        client.right = 1;  // the fit this resize makes comes back here
        SetWindowPos(window, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
        GetClientRect(window, &client);
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

class WebView2SignInTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        windowClass_ = RegisterSignInWindowClass(GetModuleHandleW(nullptr));
        ASSERT_TRUE(windowClass_);
    }
    static void TearDownTestSuite() { windowClass_.reset(); }

    test::PrivateTemp temp;
    const FakeRuntime runtime;
    const RuntimeFolderSetting runtimeFolder{FakeRuntime::Folder()};
    // The real WebView2 browser factory: none given.
    const std::shared_ptr<WindowAuthCodeProvider> provider =
        std::make_shared<WindowAuthCodeProvider>(GetModuleHandleW(nullptr));

  private:
    static inline SignInWindowClass windowClass_;
};

// Through a relative runtime folder, which is the terminal's own.
TEST_F(WebView2SignInTest, SignsInThroughTheRuntimeCancelsTheRedirectAndReleasesEverything) {
    const RuntimeFolderSetting relative(FakeRuntime::Folder().filename());
    runtime.Reset(L"code/7 8+9");
    EXPECT_EQ(provider->GetAuthCode(Config(), kRequest), u"code/7 8+9");
    const std::string redirect =
        std::string(kRedirectUtf8) + "?code=code%2F7%208%2B9&state=" + kEncodedState;
    EXPECT_THAT(runtime.Events(),
                ElementsAre(StartsWith("start "), "environment",
                            "controller parent=" + kSignInWindowClass, "visible 0",
                            "navigate " + kAuthorizeUrl, "navigation-starting " + kAuthorizeUrl,
                            "loaded " + kAuthorizeUrl, "source " + kAuthorizeUrl, "visible 1",
                            // Cancelled once the handler, which shows the page, returns.
                            "navigation-starting " + redirect,
                            "page " + Utf16ToUtf8(std::u16string(kCompletionPage)),
                            "cancelled " + redirect, "close"));
    const std::vector<std::string> journal = runtime.Journal();
    EXPECT_THAT(
        journal,
        IsSupersetOf({"setting IsScriptEnabled=1", "setting AreDefaultScriptDialogsEnabled=1",
                      "setting IsWebMessageEnabled=0", "setting AreDefaultContextMenusEnabled=0",
                      "setting IsStatusBarEnabled=0", "setting AreDevToolsEnabled=0"}));
    EXPECT_THAT(journal, Not(Contains(StartsWith("wrong-thread "))));

    // The sign-in's own data folder, made before the runtime started.
    EXPECT_THAT(journal.front(),
                testing::AllOf(StartsWith("start loader=1 type=fixed folder=" +
                                          Utf8(temp.path() / L"MORVA_Orderbook_WebView_")),
                               testing::EndsWith(" folder-exists=1 options=none")));
    EXPECT_EQ(runtime.LiveObjects(), 0);
}

// Each window goes after its loop, whichever way the loop ended, and leaves no quit message that
// would end the thread's next loop.
TEST_F(WebView2SignInTest, EachSignInEndsWithItsWindowAndLeavesNothing) {
    const struct {
        const wchar_t* signInCode;
        const wchar_t* closeOn;
        std::u16string code;
        std::string lastEvent;
    } cases[] = {
        {L"abc", nullptr, u"abc", "close"},
        {nullptr, L"source ", u"", "close"},  // closed on the shown page
        {L"abc", L"controller parent=", u"", "controller-aborted"},
    };
    for (const auto& c : cases) {
        User user{c.closeOn};
        runtime.Reset(c.signInCode, &WatchAndClose, &user);
        EXPECT_EQ(provider->GetAuthCode(Config(), kRequest), c.code);
        EXPECT_EQ(runtime.Events().back(), c.lastEvent);
        EXPECT_NE(user.window, nullptr);
        EXPECT_FALSE(IsWindow(user.window));
        MSG quit{};
        EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_THAT(temp.DataFolders(), IsEmpty());
        EXPECT_EQ(runtime.LiveObjects(), 0);
    }
}

TEST_F(WebView2SignInTest, WindowHasTheSignInsTitleSizeAndStyleAndTheBrowserFollowsItsSize) {
    RECT client{};
    runtime.Reset(nullptr, &InspectResizeAndClose, &client);
    EXPECT_EQ(provider->GetAuthCode(Config(), kRequest), u"");
    // The fit after the resize is the window procedure's.
    EXPECT_THAT(runtime.Journal(), Contains("bounds " + std::to_string(client.right) + "x" +
                                            std::to_string(client.bottom)));
}

TEST_F(WebView2SignInTest, RuntimeThatCannotBeUsedIsNamedInTheFailure) {
    const test::TempFolder notADll;
    const std::filesystem::path library = ClientLibrary(notADll.path());
    std::filesystem::create_directories(library.parent_path());
    test::WriteFile(library, "not a DLL");
    const std::filesystem::path foreign = ProgramFolder() / L"not_a_webview2_runtime";
    const struct {
        std::filesystem::path folder;
        testing::Matcher<std::string> text;
    } cases[] = {
        {notADll.path(), StartsWith("WebView runtime " + Utf8(library) + " cannot be loaded: ")},
        {foreign, "WebView runtime " + Utf8(ClientLibrary(foreign)) +
                      " has no CreateWebViewEnvironmentWithOptionsInternal"},
    };
    for (const auto& c : cases) {
        const RuntimeFolderSetting broken(c.folder);
        EXPECT_THAT([this] { provider->GetAuthCode(Config(), kRequest); },
                    ThrowsMessage<MorvaError>(c.text));
        EXPECT_THAT(temp.DataFolders(), IsEmpty());
    }
}

class MockEvents : public SignInEvents {
  public:
    MOCK_METHOD(SignInStatus, OnCreateWebViewControllerCompleted,
                (SignInStatus, std::unique_ptr<SignInBrowser>), (override));
    MOCK_METHOD(SignInStatus, OnWebViewSourceChanged, (), (override));
    MOCK_METHOD(SignInStatus, OnNavigationStarting, (SignInNavigation&), (override));
    MOCK_METHOD(SignInStatus, OnNewWindowRequested, (SignInNewWindow&), (override));
    MOCK_METHOD(SignInStatus, OnCallbackFailed, (std::exception_ptr), (override));
    MOCK_METHOD(void, OnWindowSize, (), (override));
};

// WebView2's success without a controller ends the sign-in with a text rather than a crash.
TEST(WebView2Controller, SuccessWithoutControllerFailsTheSignIn) {
    testing::StrictMock<MockEvents> events;
    EXPECT_CALL(events, OnCallbackFailed(testing::_)).WillOnce([](std::exception_ptr failure) {
        EXPECT_THAT([&] { std::rethrow_exception(failure); },
                    ThrowsMessage<MorvaError>("WebView2 returned no controller"));
        return kSignInFailed;
    });
    EXPECT_EQ(OnWebView2ControllerCreated(events, kSignInOk, nullptr), kSignInFailed);
}

TEST_F(WebView2SignInTest, WithoutARuntimeTellsWhereToGetOne) {
    // Neither a WebView2 runtime nor WebView2Loader.dll is installed under Wine.
    const RuntimeFolderSetting none(L"");
    EXPECT_THAT([this] { provider->GetAuthCode(Config(), kRequest); },
                ThrowsMessage<MorvaError>(
                    "WebView runtime not installed. Download from: "
                    "https://developer.microsoft.com/en-us/microsoft-edge/webview2/"));
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
