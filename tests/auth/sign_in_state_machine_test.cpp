// The sign-in's state machine driven through a scripted window and browser: what it asks of them,
// in which order, and what GetAuthCode makes of it.
#include "auth/sign_in_state_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "auth/sign_in_browser.h"
#include "auth/sign_in_flow.h"
#include "base/morva_error.h"
#include "support/captured_log.h"
#include "util/utf.h"

namespace morva {
namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using testing::ThrowsMessage;

constexpr SignInStatus kInvalidArg = static_cast<SignInStatus>(0x80070057);
const std::u16string kRedirect = u"morva://login.morva.example/metatrader/morva/callback";

AuthConfig Config() {
    return {u"MORVA_Orderbook", u"login.morva.example", "ABC", kRedirect};
}

// Redirects of this sign-in carry state=s1.
const AuthorizationRequest kRequest = {"s1", "verifier", "challenge"};

// What a scripted browser was asked, in order, and which of its calls fail.
struct BrowserLog {
    std::vector<std::string> calls;
    // By call ("SetVisible(true)"); requests' calls by "Navigation.GetUri", "Navigation.Cancel",
    // "NewWindow.GetUri", "NewWindow.Refuse".
    std::map<std::string, SignInStatus> failures;

    SignInStatus StatusOf(const std::string& call) const {
        const auto found = failures.find(call);
        return found != failures.end() ? found->second : kSignInOk;
    }
    SignInStatus Record(const std::string& name, const std::string& detail = "") {
        calls.push_back(detail.empty() ? name : name + "(" + detail + ")");
        return StatusOf(calls.back());
    }
};

class ScriptedBrowser final : public SignInBrowser {
  public:
    explicit ScriptedBrowser(std::shared_ptr<BrowserLog> log) : log_(std::move(log)) {}
    SignInStatus SetVisible(bool visible) override {
        return log_->Record("SetVisible", visible ? "true" : "false");
    }
    SignInStatus SetBounds(const SignInRect& bounds) override {
        return log_->Record("SetBounds", std::to_string(bounds.right - bounds.left) + "x" +
                                             std::to_string(bounds.bottom - bounds.top));
    }
    void Configure() override {
        if (log_->Record("Configure") < 0) {
            throw MorvaError("WebView not available for configuration");
        }
    }
    SignInStatus SubscribeSourceChanged() override { return log_->Record("SubscribeSource"); }
    SignInStatus SubscribeNavigationStarting() override {
        return log_->Record("SubscribeNavigation");
    }
    SignInStatus SubscribeNewWindowRequested() override {
        return log_->Record("SubscribeNewWindow");
    }
    SignInStatus Navigate(const std::u16string& url) override {
        return log_->Record("Navigate", Utf16ToUtf8(url));
    }
    SignInStatus NavigateToString(const std::u16string& html) override {
        return log_->Record("NavigateToString", Utf16ToUtf8(html));
    }
    void Close() noexcept override { log_->calls.push_back("Close"); }

  private:
    std::shared_ptr<BrowserLog> log_;
};

// A navigation about to start ("Navigation") or a page's request for a window of its own
// ("NewWindow"); its calls fail as `log` says.
struct ScriptedRequest final : SignInNavigation, SignInNewWindow {
    ScriptedRequest(std::u16string target, std::string kind, const BrowserLog& log)
        : uri(std::move(target)), kind_(std::move(kind)), log_(log) {}
    SignInStatus GetUri(std::u16string& out) override {
        out = uri;
        return Status("GetUri");
    }
    SignInStatus Cancel() override {
        stopped = true;
        return Status("Cancel");
    }
    SignInStatus Refuse() override {
        stopped = true;
        return Status("Refuse");
    }

    std::u16string uri;
    bool stopped = false;  // cancelled, or its window refused

  private:
    SignInStatus Status(const std::string& call) const { return log_.StatusOf(kind_ + "." + call); }
    std::string kind_;
    const BrowserLog& log_;
};

// A window whose loop runs the steps of a script until something ends it.
class ScriptedWindow final : public SignInWindow {
  public:
    using Step = std::function<void(SignInEvents&)>;

    std::deque<Step> script;
    std::function<void()> openFailure;  // thrown from Open when set
    bool exists = false;
    bool visible = false;
    int shown = 0;
    int postedCloses = 0;
    std::vector<int> exitCodes;

    void Open(SignInEvents& events) override {
        events_ = &events;
        ended_ = false;
        exists = true;
        visible = false;
        if (openFailure) {
            openFailure();
        }
    }
    void RunLoop() override {
        // A script that runs out returns, where a sign-in that never ends would hang the real loop.
        while (!ended_ && !script.empty()) {
            Step step = std::move(script.front());
            script.pop_front();
            step(*events_);
        }
    }
    void EndLoop(int exitCode) override {
        ended_ = true;
        exitCodes.push_back(exitCode);
    }
    void PostClose() override {
        ++postedCloses;
        script.push_front([this](SignInEvents&) { EndLoop(0); });
    }
    bool Exists() const override { return exists; }
    bool IsVisible() const override { return exists && visible; }
    void Show() override {
        ++shown;
        visible = true;
    }
    SignInRect ClientRect() const override { return {0, 0, 784, 961}; }
    void Destroy() noexcept override { exists = false; }

    // The user's close button: the window goes, and its loop ends with exit code 0.
    void UserCloses() {
        exists = false;
        EndLoop(0);
    }

  private:
    SignInEvents* events_ = nullptr;
    bool ended_ = false;
};

class SignInStateMachineTest : public testing::Test {
  protected:
    SignInStateMachineTest() {
        auto scripted = std::make_unique<ScriptedWindow>();
        window = scripted.get();
        impl = std::make_unique<WindowAuthCodeProvider::Impl>(std::move(scripted));
    }

    // The steps that bring the sign-in to the visible authorize page.
    void BrowserReadyAndPageShown() {
        Then([this](SignInEvents& events) {
            EXPECT_EQ(events.OnCreateWebViewControllerCompleted(
                          kSignInOk, std::make_unique<ScriptedBrowser>(browser)),
                      kSignInOk);
        });
        Then([](SignInEvents& events) { EXPECT_EQ(events.OnWebViewSourceChanged(), kSignInOk); });
    }
    // A navigation to `uri`; `expected` is what the state machine answers the browser.
    void NavigateTo(std::u16string uri, SignInStatus expected = kSignInOk,
                    bool expectCancelled = false) {
        Then([this, uri = std::move(uri), expected, expectCancelled](SignInEvents& events) {
            ScriptedRequest navigation(uri, "Navigation", *browser);
            EXPECT_EQ(events.OnNavigationStarting(navigation), expected);
            EXPECT_EQ(navigation.stopped, expectCancelled);
        });
    }
    void Then(ScriptedWindow::Step step) { window->script.push_back(std::move(step)); }

    std::u16string SignIn() { return impl->GetAuthCode(Config(), kRequest); }
    // The sign-in fails with exactly `text`.
    void ExpectFailure(const std::string& text) {
        EXPECT_THAT([this] { SignIn(); }, ThrowsMessage<std::exception>(text));
    }

    std::shared_ptr<BrowserLog> browser = std::make_shared<BrowserLog>();
    ScriptedWindow* window = nullptr;
    std::unique_ptr<WindowAuthCodeProvider::Impl> impl;
};

const std::string kAuthorizeUrl = Utf16ToUtf8(BuildAuthorizeUrl(Config(), kRequest));
const std::string kCompletion = Utf16ToUtf8(std::u16string(kCompletionPage));

TEST_F(SignInStateMachineTest, RedirectWithCodeCancelsItShowsTheCompletionPageAndCloses) {
    const test::CapturedLog log(spdlog::level::info);
    Then([this](SignInEvents& events) {
        events.OnCreateWebViewControllerCompleted(kSignInOk,
                                                  std::make_unique<ScriptedBrowser>(browser));
        EXPECT_FALSE(window->visible);  // hidden until the first page arrives
    });
    Then([this](SignInEvents& events) {
        events.OnWebViewSourceChanged();
        events.OnWebViewSourceChanged();
        EXPECT_EQ(window->shown, 1);
    });
    // A second sign-in while the window is open is refused.
    Then([this](SignInEvents&) { ExpectFailure("Auth window already opened"); });
    NavigateTo(u"https://login.morva.example/authorize/decision");
    NavigateTo(kRedirect + u"?code=a%2Fb%3D&state=s1", kSignInOk, true);

    EXPECT_EQ(SignIn(), u"a/b=");

    EXPECT_THAT(
        browser->calls,
        ElementsAre("SetVisible(false)", "Configure", "SubscribeSource", "SubscribeNavigation",
                    "SubscribeNewWindow", "Navigate(" + kAuthorizeUrl + ")", "SetVisible(true)",
                    "SetBounds(784x961)", "NavigateToString(" + kCompletion + ")", "Close"));
    EXPECT_EQ(window->postedCloses, 1);
    EXPECT_THAT(window->exitCodes, ElementsAre(0));
    EXPECT_FALSE(window->exists);  // destroyed after the loop
    EXPECT_THAT(log.Lines(), HasSubstr("|Showing authorization window\n"));
    EXPECT_THAT(log.Lines(), HasSubstr("|Completed interactive authorization\n"));
}

TEST_F(SignInStateMachineTest, ClosingBeforeTheBrowserIsReadyGivesAnEmptyCodeAndAWarning) {
    const test::CapturedLog log(spdlog::level::info);
    Then([this](SignInEvents& events) {
        window->UserCloses();
        EXPECT_EQ(events.OnCreateWebViewControllerCompleted(kSignInAborted, nullptr), kSignInOk);
    });
    EXPECT_EQ(SignIn(), u"");
    EXPECT_THAT(log.Lines(), HasSubstr("warning|"));
    EXPECT_THAT(log.Lines(),
                HasSubstr("|The authorization has been aborted because the window was closed\n"));
    EXPECT_TRUE(browser->calls.empty());
}

// The error wins over the code; someone else's redirect (which ones are is sign_in_flow_test's)
// neither has its error text shown nor completes anything.
TEST_F(SignInStateMachineTest, RefusedRedirectEndsTheLoopAndIsRethrown) {
    const struct {
        std::u16string query;
        std::string text;
    } cases[] = {
        {u"?code=abc&error=access_denied&error_description=No%20way&state=s1",
         "Authorization error: access_denied (No way)"},
        {u"?code=evil&error=access_denied&error_description=Call%20555-0100",
         "Authorization refused: the sign-in page answered with a wrong state"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const test::CapturedLog log(spdlog::level::info);
        browser->calls.clear();
        BrowserReadyAndPageShown();
        NavigateTo(kRedirect + c.query, kSignInFailed, true);
        ExpectFailure(c.text);
        EXPECT_EQ(window->exitCodes.back(), 1);
        EXPECT_EQ(window->postedCloses, 0);
        EXPECT_THAT(browser->calls, Not(Contains(HasSubstr("NavigateToString"))));
        EXPECT_EQ(browser->calls.back(), "Close");
        EXPECT_THAT(log.Lines(), HasSubstr("error|"));
        EXPECT_THAT(log.Lines(),
                    HasSubstr("|Auth window message loop has finished with an error\n"));
    }
}

TEST_F(SignInStateMachineTest, FailuresOutsideTheBrowserEndTheSignIn) {
    Then([](SignInEvents& events) {
        EXPECT_EQ(events.OnCreateWebViewControllerCompleted(kInvalidArg, nullptr), kSignInFailed);
    });
    ExpectFailure("Complete controller creation failed (0x80070057)");

    Then([](SignInEvents& events) {
        EXPECT_EQ(events.OnCallbackFailed(std::make_exception_ptr(MorvaError("first"))),
                  kSignInFailed);
        events.OnCallbackFailed(std::make_exception_ptr(MorvaError("second")));
    });
    ExpectFailure("second");  // the later failure before the loop ends
}

// Each call to the browser or to a request that can fail, with the text its failure ends the
// sign-in with.
struct FailurePoint {
    std::string call;
    std::string text;
    friend std::ostream& operator<<(std::ostream& out, const FailurePoint& p) {
        return out << p.call;  // a readable, stable test name
    }
};

class SignInFailurePointTest : public SignInStateMachineTest,
                               public testing::WithParamInterface<FailurePoint> {};

TEST_P(SignInFailurePointTest, EndsTheLoopWithItsText) {
    browser->failures[GetParam().call] = kInvalidArg;
    Then([this](SignInEvents& events) {
        events.OnCreateWebViewControllerCompleted(kSignInOk,
                                                  std::make_unique<ScriptedBrowser>(browser));
    });
    Then([](SignInEvents& events) { events.OnWebViewSourceChanged(); });
    Then([this](SignInEvents& events) {
        ScriptedRequest request(u"https://login.morva.example/help", "NewWindow", *browser);
        events.OnNewWindowRequested(request);
        EXPECT_TRUE(request.stopped);  // refused before anything else can fail
    });
    Then([this](SignInEvents& events) {
        ScriptedRequest navigation(kRedirect + u"?code=abc&state=s1", "Navigation", *browser);
        events.OnNavigationStarting(navigation);
    });
    ExpectFailure(GetParam().text);
    EXPECT_THAT(window->exitCodes, ElementsAre(1));  // ended by the failing step alone
    EXPECT_EQ(browser->calls.back(), "Close");

    window->script.clear();  // the steps after the failing one
    Then([this](SignInEvents&) { window->UserCloses(); });
    EXPECT_EQ(SignIn(), u"");  // neither the old error nor a code read before the failure
}

INSTANTIATE_TEST_SUITE_P(
    EveryCall, SignInFailurePointTest,
    testing::Values(
        FailurePoint{"SetVisible(false)", "Hide WebView on start failed (0x80070057)"},
        FailurePoint{"Configure", "WebView not available for configuration"},
        FailurePoint{"SubscribeSource", "Subscribe to WebView source change failed (0x80070057)"},
        FailurePoint{"SubscribeNavigation", "Subscribe to WebView navigation failed (0x80070057)"},
        FailurePoint{"SubscribeNewWindow", "Subscribe to WebView new windows failed (0x80070057)"},
        FailurePoint{"Navigate(" + kAuthorizeUrl + ")",
                     "Navigate to authorize page failed (0x80070057)"},
        FailurePoint{"SetVisible(true)", "Show WebView failed (0x80070057)"},
        FailurePoint{"NewWindow.Refuse", "Refuse WebView new window failed (0x80070057)"},
        FailurePoint{"NewWindow.GetUri", "Get WebView new window URI failed (0x80070057)"},
        FailurePoint{"Navigate(https://login.morva.example/help)",
                     "Navigate WebView to the page of a new window failed (0x80070057)"},
        FailurePoint{"Navigation.GetUri", "Get WebView URI failed (0x80070057)"},
        FailurePoint{"Navigation.Cancel",
                     "Cancel WebView loading the final redirect URL failed (0x80070057)"},
        FailurePoint{"NavigateToString(" + kCompletion + ")",
                     "Navigate WebView to string with completion information failed "
                     "(0x80070057)"}));

// No page gets a window of its own; the view goes to web pages and the redirect instead, where
// navigation is watched as ever.
TEST_F(SignInStateMachineTest, NewWindowsAreRefusedAndTheViewFollowsOnlyToTheWeb) {
    BrowserReadyAndPageShown();
    Then([this](SignInEvents& events) {
        browser->calls.clear();
        for (const std::u16string& uri :
             {std::u16string(u"https://login.morva.example/help"), std::u16string(u"about:blank"),
              kRedirect + u"?code=abc&state=s1"}) {
            ScriptedRequest request(uri, "NewWindow", *browser);
            EXPECT_EQ(events.OnNewWindowRequested(request), kSignInOk);
            EXPECT_TRUE(request.stopped) << Utf16ToUtf8(uri);
        }
        EXPECT_THAT(browser->calls,
                    ElementsAre("Navigate(https://login.morva.example/help)",
                                "Navigate(" + Utf16ToUtf8(kRedirect) + "?code=abc&state=s1)"));
    });
    // A URI that holds the redirect later is not the redirect.
    NavigateTo(u"https://login.morva.example/authorize?redirect_uri=" + kRedirect + u"?code=evil");
    NavigateTo(kRedirect + u"?code=abc&state=s1", kSignInOk, true);
    EXPECT_EQ(SignIn(), u"abc");
}

TEST_F(SignInStateMachineTest, FailureBeforeTheLoopIsThrownAndLeavesNoWindowBehind) {
    window->openFailure = [] { throw MorvaError("Create auth window failed. [8]"); };
    ExpectFailure("Create auth window failed. [8]");
    EXPECT_FALSE(window->exists);

    window->openFailure = nullptr;
    BrowserReadyAndPageShown();
    NavigateTo(kRedirect + u"?code=again&state=s1", kSignInOk, true);
    EXPECT_EQ(SignIn(), u"again");
}

}  // namespace
}  // namespace morva
