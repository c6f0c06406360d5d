// The sign-in's state machine driven through a scripted window and browser: what it asks of them,
// in which order, and what GetAuthCode makes of it.
#include "auth/sign_in_state_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
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

// What the scripted browser was asked, in order, and how it answers.
struct BrowserLog {
    std::vector<std::string> calls;
    std::map<std::string, SignInStatus> failures;  // by call name
    bool closed = false;

    SignInStatus Record(const std::string& name, const std::string& detail = "") {
        calls.push_back(detail.empty() ? name : name + "(" + detail + ")");
        const auto failure = failures.find(name);
        return failure != failures.end() ? failure->second : kSignInOk;
    }
};

class ScriptedBrowser final : public SignInBrowser {
  public:
    explicit ScriptedBrowser(std::shared_ptr<BrowserLog> log) : log_(std::move(log)) {}
    SignInStatus SetVisible(bool visible) override {
        return log_->Record("SetVisible", visible ? "true" : "false");
    }
    SignInStatus SetBounds(const SignInRect& bounds) override {
        return log_->Record("SetBounds",
                            std::to_string(bounds.right) + "x" + std::to_string(bounds.bottom));
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
    void Close() noexcept override {
        log_->calls.push_back("Close");
        log_->closed = true;
    }

  private:
    std::shared_ptr<BrowserLog> log_;
};

struct ScriptedNavigation final : SignInNavigation {
    explicit ScriptedNavigation(std::u16string target) : uri(std::move(target)) {}
    SignInStatus GetUri(std::u16string& out) override {
        out = uri;
        return getUriStatus;
    }
    SignInStatus Cancel() override {
        cancelled = true;
        return cancelStatus;
    }
    std::u16string uri;
    SignInStatus getUriStatus = kSignInOk;
    SignInStatus cancelStatus = kSignInOk;
    bool cancelled = false;
};

struct ScriptedNewWindow final : SignInNewWindow {
    explicit ScriptedNewWindow(std::u16string target) : uri(std::move(target)) {}
    SignInStatus GetUri(std::u16string& out) override {
        out = uri;
        return getUriStatus;
    }
    SignInStatus Refuse() override {
        refused = true;
        return refuseStatus;
    }
    std::u16string uri;
    SignInStatus getUriStatus = kSignInOk;
    SignInStatus refuseStatus = kSignInOk;
    bool refused = false;
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
    int opened = 0;
    int destroyed = 0;
    int postedCloses = 0;
    std::vector<int> exitCodes;
    bool scriptRanOut = false;

    void Open(SignInEvents& events) override {
        ++opened;
        events_ = &events;
        ended_ = false;
        exists = true;
        visible = false;
        if (openFailure) {
            openFailure();
        }
    }
    void RunLoop() override {
        while (!ended_) {
            if (script.empty()) {
                scriptRanOut = true;  // a sign-in that never ends would hang the real loop
                return;
            }
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
    void Destroy() noexcept override {
        if (exists) {
            ++destroyed;
        }
        exists = false;
    }

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
        Then([uri = std::move(uri), expected, expectCancelled](SignInEvents& events) {
            ScriptedNavigation navigation(uri);
            EXPECT_EQ(events.OnNavigationStarting(navigation), expected);
            EXPECT_EQ(navigation.cancelled, expectCancelled);
        });
    }
    void Then(ScriptedWindow::Step step) { window->script.push_back(std::move(step)); }

    std::string ErrorOf() {
        try {
            impl->GetAuthCode(Config(), kRequest);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no error)";
    }

    std::shared_ptr<BrowserLog> browser = std::make_shared<BrowserLog>();
    ScriptedWindow* window = nullptr;
    std::unique_ptr<WindowAuthCodeProvider::Impl> impl;
};

const std::string kAuthorizeUrl = Utf16ToUtf8(BuildAuthorizeUrl(Config(), kRequest));
const std::string kCompletion = Utf16ToUtf8(std::u16string(kCompletionPage));

TEST_F(SignInStateMachineTest, RedirectWithCodeCancelsItShowsTheCompletionPageAndCloses) {
    const test::CapturedLog log(spdlog::level::debug);
    BrowserReadyAndPageShown();
    NavigateTo(u"https://login.morva.example/authorize/decision");
    NavigateTo(kRedirect + u"?code=abc&state=s1", kSignInOk, true);

    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"abc");

    EXPECT_THAT(
        browser->calls,
        ElementsAre("SetVisible(false)", "Configure", "SubscribeSource", "SubscribeNavigation",
                    "SubscribeNewWindow", "Navigate(" + kAuthorizeUrl + ")", "SetVisible(true)",
                    "SetBounds(784x961)", "NavigateToString(" + kCompletion + ")", "Close"));
    EXPECT_EQ(window->postedCloses, 1);
    EXPECT_THAT(window->exitCodes, ElementsAre(0));
    EXPECT_EQ(window->destroyed, 1);
    EXPECT_FALSE(window->scriptRanOut);

    const std::string step = "|morva::WindowAuthCodeProvider::Impl::";
    EXPECT_THAT(log.Lines(),
                HasSubstr("debug" + step + "GetAuthCode|Starting auth window message loop\n"));
    EXPECT_THAT(log.Lines(),
                HasSubstr("debug" + step +
                          "OnCreateWebViewControllerCompleted|Successfully configured WebView\n"));
    EXPECT_THAT(log.Lines(),
                HasSubstr("info" + step + "OnWebViewSourceChanged|Showing authorization window\n"));
    EXPECT_THAT(
        log.Lines(),
        HasSubstr("info" + step + "OnNavigationStarting|Completed interactive authorization\n"));
    EXPECT_THAT(log.Lines(),
                HasSubstr("debug" + step +
                          "OnNavigationStarting|Automatically closing authorization window\n"));
    EXPECT_THAT(log.Lines(),
                HasSubstr("debug" + step +
                          "GetAuthCode|Auth window message loop has finished successfully\n"));
}

TEST_F(SignInStateMachineTest, WindowStaysHiddenUntilTheFirstSourceChangeAndIsShownOnce) {
    Then([this](SignInEvents& events) {
        events.OnCreateWebViewControllerCompleted(kSignInOk,
                                                  std::make_unique<ScriptedBrowser>(browser));
        EXPECT_FALSE(window->visible);
    });
    Then([this](SignInEvents& events) {
        events.OnWebViewSourceChanged();
        events.OnWebViewSourceChanged();
        EXPECT_EQ(window->shown, 1);
    });
    NavigateTo(kRedirect + u"?code=abc&state=s1", kSignInOk, true);
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"abc");
    EXPECT_EQ(std::count(browser->calls.begin(), browser->calls.end(), "SetVisible(true)"), 1);
}

TEST_F(SignInStateMachineTest, PercentEncodedCodeIsDecoded) {
    BrowserReadyAndPageShown();
    NavigateTo(kRedirect + u"?code=a%2Fb%3D&state=s1", kSignInOk, true);
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"a/b=");
}

TEST_F(SignInStateMachineTest, UriHoldingTheRedirectLaterIsNotTheRedirect) {
    BrowserReadyAndPageShown();
    NavigateTo(u"https://login.morva.example/authorize?redirect_uri=" + kRedirect + u"?code=evil");
    Then([this](SignInEvents&) { window->UserCloses(); });
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"");
    EXPECT_THAT(browser->calls, Not(testing::Contains(HasSubstr("NavigateToString"))));
}

TEST_F(SignInStateMachineTest, ClosingBeforeTheBrowserIsReadyGivesAnEmptyCodeAndAWarning) {
    const test::CapturedLog log(spdlog::level::debug);
    Then([this](SignInEvents& events) {
        window->UserCloses();
        EXPECT_EQ(events.OnCreateWebViewControllerCompleted(kSignInAborted, nullptr), kSignInOk);
    });
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"");
    EXPECT_THAT(log.Lines(), HasSubstr("warning|morva::WindowAuthCodeProvider::Impl::"
                                       "OnCreateWebViewControllerCompleted|The authorization has "
                                       "been aborted because the window was closed\n"));
    EXPECT_THAT(log.Lines(), HasSubstr("Auth window message loop has finished successfully"));
    EXPECT_TRUE(browser->calls.empty());
}

TEST_F(SignInStateMachineTest, ClosingDuringTheSignInGivesAnEmptyCodeAndNoError) {
    const test::CapturedLog log(spdlog::level::debug);
    BrowserReadyAndPageShown();
    NavigateTo(u"https://login.morva.example/authorize/decision");
    Then([this](SignInEvents&) { window->UserCloses(); });
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"");
    EXPECT_THAT(log.Lines(), HasSubstr("debug|morva::WindowAuthCodeProvider::Impl::GetAuthCode|"
                                       "Auth window message loop has finished successfully\n"));
    EXPECT_TRUE(browser->closed);
}

TEST_F(SignInStateMachineTest, ServerErrorOnTheRedirectEndsTheLoopAndIsRethrown) {
    const test::CapturedLog log(spdlog::level::debug);
    BrowserReadyAndPageShown();
    NavigateTo(kRedirect + u"?error=access_denied&state=s1", kSignInFailed, true);
    EXPECT_EQ(ErrorOf(), "Authorization error: access_denied (no description)");
    EXPECT_THAT(window->exitCodes, ElementsAre(1));
    EXPECT_EQ(window->postedCloses, 0);
    EXPECT_EQ(window->destroyed, 1);
    EXPECT_TRUE(browser->closed);
    EXPECT_THAT(log.Lines(), HasSubstr("error|morva::WindowAuthCodeProvider::Impl::GetAuthCode|"
                                       "Auth window message loop has finished with an error\n"));
}

// Someone else's redirect: neither its code nor its error is taken, and nothing is completed.
TEST_F(SignInStateMachineTest, RedirectWithoutOurStateIsRefusedAndItsTextNeverShown) {
    for (const char16_t* query :
         {u"?code=evil", u"?code=evil&state=s2",
          u"?error=access_denied&error_description=Call%20555-0100%20to%20restore%20access"}) {
        BrowserReadyAndPageShown();
        NavigateTo(kRedirect + query, kSignInFailed, true);
        EXPECT_EQ(ErrorOf(), "Authorization refused: the sign-in page answered with a wrong state");
        EXPECT_THAT(browser->calls, Not(testing::Contains(HasSubstr("NavigateToString"))));
        EXPECT_TRUE(browser->closed);
        EXPECT_EQ(window->postedCloses, 0);
        browser->calls.clear();
        browser->closed = false;
    }
}

TEST_F(SignInStateMachineTest, ErrorWinsOverACodeInTheSameRedirect) {
    BrowserReadyAndPageShown();
    NavigateTo(kRedirect + u"?code=abc&error=access_denied&error_description=No%20way&state=s1",
               kSignInFailed, true);
    EXPECT_EQ(ErrorOf(), "Authorization error: access_denied (No way)");
}

TEST_F(SignInStateMachineTest, AFailedControllerCreationEndsTheSignIn) {
    Then([](SignInEvents& events) {
        EXPECT_EQ(events.OnCreateWebViewControllerCompleted(kInvalidArg, nullptr), kSignInFailed);
    });
    EXPECT_EQ(ErrorOf(), "Complete controller creation failed (0x80070057)");
}

TEST_F(SignInStateMachineTest, AFailureInThePlatformsOwnCallbackEndsTheSignIn) {
    Then([](SignInEvents& events) {
        EXPECT_EQ(events.OnCallbackFailed(std::make_exception_ptr(
                      MorvaError("Create WebView controller failed (0x80004005)"))),
                  kSignInFailed);
    });
    EXPECT_EQ(ErrorOf(), "Create WebView controller failed (0x80004005)");
}

// Each browser call that can fail, with the text its failure ends the sign-in with.
struct FailurePoint {
    const char* call;
    const char* text;
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
    NavigateTo(kRedirect + u"?code=abc&state=s1", kSignInFailed, true);
    EXPECT_EQ(ErrorOf(), GetParam().text);
    EXPECT_TRUE(browser->closed);
    EXPECT_FALSE(window->scriptRanOut);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCall, SignInFailurePointTest,
    testing::Values(
        FailurePoint{"SetVisible", "Hide WebView on start failed (0x80070057)"},
        FailurePoint{"Configure", "WebView not available for configuration"},
        FailurePoint{"SubscribeSource", "Subscribe to WebView source change failed (0x80070057)"},
        FailurePoint{"SubscribeNavigation", "Subscribe to WebView navigation failed (0x80070057)"},
        FailurePoint{"SubscribeNewWindow", "Subscribe to WebView new windows failed (0x80070057)"},
        FailurePoint{"Navigate", "Navigate to authorize page failed (0x80070057)"},
        FailurePoint{"NavigateToString",
                     "Navigate WebView to string with completion information failed "
                     "(0x80070057)"}));

TEST_F(SignInStateMachineTest, ShowingTheBrowserCanFail) {
    Then([this](SignInEvents& events) {
        events.OnCreateWebViewControllerCompleted(kSignInOk,
                                                  std::make_unique<ScriptedBrowser>(browser));
        browser->failures["SetVisible"] = kInvalidArg;  // hiding worked, showing does not
        EXPECT_EQ(events.OnWebViewSourceChanged(), kSignInFailed);
    });
    EXPECT_EQ(ErrorOf(), "Show WebView failed (0x80070057)");
}

TEST_F(SignInStateMachineTest, ReadingOrCancellingTheNavigationCanFail) {
    BrowserReadyAndPageShown();
    Then([](SignInEvents& events) {
        ScriptedNavigation navigation(kRedirect + u"?code=abc&state=s1");
        navigation.getUriStatus = kInvalidArg;
        EXPECT_EQ(events.OnNavigationStarting(navigation), kSignInFailed);
    });
    EXPECT_EQ(ErrorOf(), "Get WebView URI failed (0x80070057)");

    BrowserReadyAndPageShown();
    Then([](SignInEvents& events) {
        ScriptedNavigation navigation(kRedirect + u"?code=abc&state=s1");
        navigation.cancelStatus = kInvalidArg;
        EXPECT_EQ(events.OnNavigationStarting(navigation), kSignInFailed);
    });
    EXPECT_EQ(ErrorOf(), "Cancel WebView loading the final redirect URL failed (0x80070057)");
}

// No page gets a window of its own; the view goes to web pages and the redirect instead, where
// navigation is watched as ever.
TEST_F(SignInStateMachineTest, NewWindowsAreRefusedAndTheViewFollowsOnlyToTheWeb) {
    BrowserReadyAndPageShown();
    Then([this](SignInEvents& events) {
        browser->calls.clear();
        for (const std::u16string& uri :
             {std::u16string(u"https://login.morva.example/help"), std::u16string(u"about:blank"),
              std::u16string(u"javascript:alert(1)"), kRedirect + u"?code=abc&state=s1"}) {
            ScriptedNewWindow request(uri);
            EXPECT_EQ(events.OnNewWindowRequested(request), kSignInOk);
            EXPECT_TRUE(request.refused) << Utf16ToUtf8(uri);
        }
        EXPECT_THAT(browser->calls,
                    ElementsAre("Navigate(https://login.morva.example/help)",
                                "Navigate(" + Utf16ToUtf8(kRedirect) + "?code=abc&state=s1)"));
    });
    NavigateTo(kRedirect + u"?code=abc&state=s1", kSignInOk, true);
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"abc");
}

TEST_F(SignInStateMachineTest, RefusingOrReadingANewWindowCanFail) {
    BrowserReadyAndPageShown();
    Then([](SignInEvents& events) {
        ScriptedNewWindow request(u"https://login.morva.example/help");
        request.refuseStatus = kInvalidArg;
        EXPECT_EQ(events.OnNewWindowRequested(request), kSignInFailed);
    });
    EXPECT_EQ(ErrorOf(), "Refuse WebView new window failed (0x80070057)");

    BrowserReadyAndPageShown();
    Then([](SignInEvents& events) {
        ScriptedNewWindow request(u"https://login.morva.example/help");
        request.getUriStatus = kInvalidArg;
        EXPECT_EQ(events.OnNewWindowRequested(request), kSignInFailed);
        EXPECT_TRUE(request.refused);  // before anything else can fail
    });
    EXPECT_EQ(ErrorOf(), "Get WebView new window URI failed (0x80070057)");
}

TEST_F(SignInStateMachineTest, ALaterFailureBeforeTheLoopEndsIsTheOneRethrown) {
    Then([](SignInEvents& events) {
        events.OnCallbackFailed(std::make_exception_ptr(MorvaError("first")));
        events.OnCallbackFailed(std::make_exception_ptr(MorvaError("second")));
    });
    EXPECT_EQ(ErrorOf(), "second");
}

TEST_F(SignInStateMachineTest, ASecondSignInWhileTheWindowIsOpenIsRefused) {
    BrowserReadyAndPageShown();
    Then([this](SignInEvents&) {
        EXPECT_THAT([this] { impl->GetAuthCode(Config(), kRequest); },
                    ThrowsMessage<MorvaError>("Auth window already opened"));
        EXPECT_EQ(window->opened, 1);
    });
    NavigateTo(kRedirect + u"?code=abc&state=s1", kSignInOk, true);
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"abc");
}

TEST_F(SignInStateMachineTest, FailureBeforeTheLoopIsThrownAndLeavesNoWindowBehind) {
    window->openFailure = [] { throw MorvaError("Create auth window failed. [8]"); };
    EXPECT_EQ(ErrorOf(), "Create auth window failed. [8]");
    EXPECT_FALSE(window->exists);
    EXPECT_EQ(window->destroyed, 1);

    window->openFailure = nullptr;
    BrowserReadyAndPageShown();
    NavigateTo(kRedirect + u"?code=again&state=s1", kSignInOk, true);
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"again");
}

TEST_F(SignInStateMachineTest, EachSignInStartsClean) {
    BrowserReadyAndPageShown();
    NavigateTo(kRedirect + u"?error=access_denied&state=s1", kSignInFailed, true);
    EXPECT_EQ(ErrorOf(), "Authorization error: access_denied (no description)");

    Then([this](SignInEvents&) { window->UserCloses(); });
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"");  // neither the old error nor an old code
}

TEST_F(SignInStateMachineTest, ResizingFitsTheBrowserToTheWindow) {
    BrowserReadyAndPageShown();
    Then([this](SignInEvents& events) {
        browser->calls.clear();
        events.OnWindowSize();
        EXPECT_THAT(browser->calls, ElementsAre("SetBounds(784x961)"));
        window->UserCloses();
    });
    EXPECT_EQ(impl->GetAuthCode(Config(), kRequest), u"");
}

}  // namespace
}  // namespace morva
