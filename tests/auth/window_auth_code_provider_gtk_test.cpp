// The sign-in window with a real WebKitGTK browser, under Xvfb, against the fake broker's
// /authorize inside scripts/sandbox. WebKit binds itself to the first thread that uses it, so the
// whole program shares one provider, as the library does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "auth/code_auth_service.h"
#include "auth/credential_store.h"
#include "auth/http_auth_client.h"
#include "auth/sign_in_flow.h"
#include "auth/window_auth_code_provider.h"
#include "base/log.h"
#include "base/morva_error.h"
#include "config/environment_profiles.h"
#include "e2e/broker_control.h"
#include "http/http_client.h"
#include "support/fake_clock.h"
#include "support/files.h"

namespace morva {
namespace {

using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testing::ThrowsMessage;

void UseAuthorizeMode(const std::string& mode) {
    BrokerControl().Send("PUT", "/scenario", R"({"auth": {"authorizeMode": ")" + mode + R"("}})");
}

AuthConfig ProductionAuth() {
    for (const EnvironmentProfile& profile : EnvironmentProfiles()) {
        if (profile.auth.credentialTarget == u"MORVA_Orderbook") {
            return profile.auth;
        }
    }
    throw std::runtime_error("no production profile");
}

// Runs `work` on the provider's GTK thread (the one that iterates the default main context).
template <class Result>
Result OnGtkThread(std::function<Result()> work) {
    struct Call {
        std::function<Result()> work;
        std::promise<Result> result;
    };
    auto call = std::make_unique<Call>(Call{std::move(work), {}});
    std::future<Result> result = call->result.get_future();
    g_idle_add(
        [](gpointer data) -> gboolean {
            const std::unique_ptr<Call> pending(static_cast<Call*>(data));
            pending->result.set_value(pending->work());
            return G_SOURCE_REMOVE;
        },
        call.release());
    return result.get();
}

GtkWindow* FindSignInWindow() {
    GtkWindow* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        const char* title = gtk_window_get_title(window);
        if (title != nullptr && std::string(title) == "Morva Sign-in") {
            found = window;
        }
    }
    g_list_free(windows);
    return found;
}

bool SignInWindowVisible() {
    GtkWindow* window = FindSignInWindow();
    return window != nullptr && gtk_widget_get_visible(GTK_WIDGET(window));
}

// Waits (bounded) for the sign-in window to be shown, as the user would see it: for its "show"
// signal, unless it is visible already.
bool WaitForVisibleWindow() {
    using Shown = std::shared_ptr<std::promise<void>>;
    const Shown shown = std::make_shared<std::promise<void>>();
    std::future<void> done = shown->get_future();
    OnGtkThread<bool>([shown] {
        if (SignInWindowVisible()) {
            shown->set_value();
            return true;
        }
        g_type_class_ref(GTK_TYPE_WINDOW);  // its signals exist once its class does
        g_signal_add_emission_hook(
            g_signal_lookup("show", GTK_TYPE_WIDGET), 0,
            [](GSignalInvocationHint*, guint, const GValue* values, gpointer data) -> gboolean {
                auto* widget = static_cast<GObject*>(g_value_get_object(&values[0]));
                const char* title =
                    GTK_IS_WINDOW(widget) ? gtk_window_get_title(GTK_WINDOW(widget)) : nullptr;
                if (title == nullptr || std::string(title) != "Morva Sign-in") {
                    return TRUE;  // someone else's: keep waiting
                }
                (*static_cast<Shown*>(data))->set_value();
                return FALSE;  // the hook goes
            },
            new Shown(shown), [](gpointer data) { delete static_cast<Shown*>(data); });
        return true;
    });
    return done.wait_for(std::chrono::seconds(60)) == std::future_status::ready &&
           OnGtkThread<bool>(SignInWindowVisible);
}

class SignInWindowGtkTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
        ASSERT_NE(std::getenv("MORVA_SANDBOX"), nullptr) << "run inside scripts/sandbox";
        // The library's own lines on stderr tell where a sign-in stopped.
        auto logger = std::make_shared<spdlog::logger>(
            "sign-in", std::make_shared<spdlog::sinks::stderr_sink_mt>());
        logger->set_level(spdlog::level::debug);
        log::Install(logger);
        // Where the sign-ins keep their browsers' data, watched by the tests; set before any
        // thread could read it.
        runtime_ = std::make_unique<test::TempFolder>();
        std::filesystem::permissions(runtime_->path(), std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime_->path().c_str(), 1);
        provider_ = std::make_shared<WindowAuthCodeProvider>(nullptr);
    }
    static void TearDownTestSuite() {
        provider_.reset();
        runtime_.reset();
    }

    // How many browser data folders the runtime folder holds.
    static auto DataFolders() {
        return std::ranges::count_if(
            std::filesystem::directory_iterator(runtime_->path()), [](const auto& entry) {
                return entry.path().filename().string().starts_with("MORVA_Orderbook_WebView_");
            });
    }

    static inline std::unique_ptr<test::TempFolder> runtime_;
    static inline std::shared_ptr<WindowAuthCodeProvider> provider_;
};

// The redirect is caught after the user signs in on the page, and after the page opens a window
// of its own, by script or by a target=_blank link: it gets none, the sign-in's view goes there.
TEST_F(SignInWindowGtkTest, TheRedirectIsCaughtFromThePageAndFromWindowsItOpens) {
    const std::string redirect =
        "const field = name => document.querySelector(`[name=${name}]`).value;"
        "const target = `${field('redirect_uri')}?code=from-a-new-window&state=${"
        "encodeURIComponent(field('state'))}`;";
    const struct {
        std::string script;
        testing::Matcher<std::u16string> code;
    } cases[] = {
        {"document.getElementById('sign-in').click()", Not(IsEmpty())},
        {redirect + "window.open(target);", std::u16string(u"from-a-new-window")},
        {redirect + "const link = document.createElement('a');"
                    "link.href = target; link.target = '_blank';"
                    "document.body.appendChild(link); link.click();",
         std::u16string(u"from-a-new-window")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        UseAuthorizeMode("page");
        auto code = std::async(std::launch::async, [] {
            return provider_->GetAuthCode(ProductionAuth(), AuthorizationRequest::Create());
        });
        ASSERT_TRUE(WaitForVisibleWindow());
        OnGtkThread<bool>([&c] {
            WebKitWebView* view = WEBKIT_WEB_VIEW(gtk_bin_get_child(GTK_BIN(FindSignInWindow())));
            // As a user's click would: WebKit blocks the windows a script opens on its own.
            webkit_settings_set_javascript_can_open_windows_automatically(
                webkit_web_view_get_settings(view), TRUE);
            webkit_web_view_evaluate_javascript(view, c.script.c_str(), -1, nullptr, nullptr,
                                                nullptr, nullptr, nullptr);
            return true;
        });
        EXPECT_THAT(code.get(), c.code);  // a redirect not caught hangs until ctest's timeout
        EXPECT_FALSE(OnGtkThread<bool>([] { return FindSignInWindow() != nullptr; }));
    }
}

// A user who closes the window ends the sign-in, meets the window again once the pause is over,
// and can sign in then: the token service through the real window, transport and credential store.
TEST_F(SignInWindowGtkTest, AClosedWindowEndsTheSignInAndReopensAfterThePause) {
    UseAuthorizeMode("page");
    const test::TempFolder dataHome;  // no stored refresh token: the window it is
    setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
    const AuthConfig config = ProductionAuth();
    const auto clock = std::make_shared<test::FakeClock>();
    auto service =
        CodeAuthService::Create(config, provider_,
                                std::make_shared<HttpAuthClient>(config.authHost, config.clientId,
                                                                 CreatePlatformHttpClient()),
                                CreatePlatformCredentialStore(), clock);

    const auto closed = service->GetAccessTokenAsync();
    ASSERT_TRUE(WaitForVisibleWindow());
    EXPECT_EQ(DataFolders(), 1);
    const auto size = OnGtkThread<std::pair<int, int>>([] {
        int width = 0;
        int height = 0;
        gtk_window_get_size(FindSignInWindow(), &width, &height);
        gtk_window_close(FindSignInWindow());  // as the title bar's close button does
        return std::make_pair(width, height);
    });
    EXPECT_EQ(size, std::make_pair(800, 1000));
    EXPECT_THAT([&] { closed.get(); },  // the window gave no code
                ThrowsMessage<MorvaError>(HasSubstr("Window closed without successful sign-in")));
    EXPECT_EQ(DataFolders(), 0);

    clock->Advance(CodeAuthService::kPauseAfterClosedWindow);
    UseAuthorizeMode("auto");
    const auto second = service->GetAccessTokenAsync();
    // The broker exchanges a code only for the verifier of the challenge the window asked with.
    EXPECT_FALSE(second.get().token.empty());
    EXPECT_TRUE(ReadCredentials(config.credentialTarget).has_value());

    // The sign-in's detached thread lets go of the service only after answering; were it the last
    // owner, the service and the window would end on it while the program exits (seen as a heap
    // corruption at exit). Nothing signals that moment, hence the polling.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (service.use_count() > 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(service.use_count(), 1);
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace morva
