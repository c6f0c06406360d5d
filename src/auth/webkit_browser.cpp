#include "auth/webkit_browser.h"

#include <webkit2/webkit2.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "base/log.h"
#include "base/morva_error.h"
#include "base/native_library.h"
#include "base/unique_any.h"
#include "util/utf.h"

namespace morva {

namespace {

// One reference to a GObject. A floating one (a widget just made) is sunk before it is wrapped.
template <class T>
using GObjectPtr = UniqueAny<T*, g_object_unref>;

// GCallback is void (*)(void), the one function type every handler may be cast to.
template <class Function>
GCallback Callback(Function* function) {
    return reinterpret_cast<GCallback>(function);
}

class WebKitNavigation final : public SignInNavigation {
  public:
    WebKitNavigation(WebKitPolicyDecision* decision, const char* uri)
        : decision_(decision), uri_(uri != nullptr ? uri : "") {}

    SignInStatus GetUri(std::u16string& uri) override {
        uri = Utf8ToUtf16(uri_);
        return kSignInOk;
    }
    SignInStatus Cancel() override {
        webkit_policy_decision_ignore(decision_);
        cancelled_ = true;
        return kSignInOk;
    }
    bool cancelled() const noexcept { return cancelled_; }

  private:
    WebKitPolicyDecision* decision_;
    std::string uri_;
    bool cancelled_ = false;
};

// A new window WebKit asks "create" for: it makes none unless the handler returns a view, which
// the browser never does.
class WebKitNewWindow final : public SignInNewWindow {
  public:
    explicit WebKitNewWindow(const char* uri) : uri_(uri != nullptr ? uri : "") {}

    SignInStatus GetUri(std::u16string& uri) override {
        uri = Utf8ToUtf16(uri_);
        return kSignInOk;
    }
    SignInStatus Refuse() override { return kSignInOk; }

  private:
    std::string uri_;
};

const char* RequestedUri(WebKitNavigationAction* action) {
    return webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
}

class WebKitSignInBrowser final : public SignInBrowser {
  public:
    WebKitSignInBrowser(GObjectPtr<WebKitWebView> view, SignInEvents& events)
        : view_(std::move(view)), events_(events) {}
    ~WebKitSignInBrowser() override { Close(); }
    WebKitSignInBrowser(const WebKitSignInBrowser&) = delete;
    WebKitSignInBrowser& operator=(const WebKitSignInBrowser&) = delete;

    SignInStatus SetVisible(bool visible) override {
        gtk_widget_set_visible(GTK_WIDGET(view_.get()), visible ? TRUE : FALSE);
        return kSignInOk;
    }
    // The window lays its only child out over its whole client area by itself.
    SignInStatus SetBounds(const SignInRect& /*bounds*/) override { return kSignInOk; }

    // WebKitGTK has no status bar, and script messages reach nothing unless a handler is
    // registered; what is left is scripts on, developer tools and context menus off.
    void Configure() override {
        WebKitSettings* settings = webkit_web_view_get_settings(view_.get());
        webkit_settings_set_enable_javascript(settings, TRUE);
        webkit_settings_set_enable_developer_extras(settings, FALSE);
        g_signal_connect(view_.get(), "context-menu", Callback(&RefuseContextMenu), this);
        g_signal_connect(view_.get(), "load-failed", Callback(&OnLoadFailed), this);
    }
    SignInStatus SubscribeSourceChanged() override {
        g_signal_connect(view_.get(), "load-changed", Callback(&OnLoadChanged), this);
        return kSignInOk;
    }
    SignInStatus SubscribeNavigationStarting() override {
        g_signal_connect(view_.get(), "decide-policy", Callback(&OnDecidePolicy), this);
        return kSignInOk;
    }
    // Every new window comes to "create": window.open's at once, a target=_blank link's once its
    // policy decision is taken.
    SignInStatus SubscribeNewWindowRequested() override {
        g_signal_connect(view_.get(), "create", Callback(&OnCreate), this);
        return kSignInOk;
    }
    SignInStatus Navigate(const std::u16string& url) override {
        webkit_web_view_load_uri(view_.get(), Utf16ToUtf8(url).c_str());
        return kSignInOk;
    }
    SignInStatus NavigateToString(const std::u16string& html) override {
        webkit_web_view_load_html(view_.get(), Utf16ToUtf8(html).c_str(), nullptr);
        return kSignInOk;
    }
    void Close() noexcept override { g_signal_handlers_disconnect_by_data(view_.get(), this); }

  private:
    static gboolean RefuseContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                      WebKitHitTestResult*, gpointer) {
        return TRUE;
    }
    // WebKit shows its own error page; the log says why, for whoever reads it later.
    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                 gpointer) {
        // Without the query: on the redirect it carries the authorization code.
        std::string_view page = uri != nullptr ? uri : "";
        page = page.substr(0, page.find('?'));
        MORVA_LOG_WARN("Sign-in page {} failed to load: {}", page,
                       error != nullptr ? error->message : "");
        return FALSE;
    }
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
        if (event == WEBKIT_LOAD_COMMITTED) {
            static_cast<WebKitSignInBrowser*>(self)->events_.OnWebViewSourceChanged();
        }
    }
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer self) {
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
            return FALSE;
        }
        WebKitNavigation navigation(
            decision, RequestedUri(webkit_navigation_policy_decision_get_navigation_action(
                          WEBKIT_NAVIGATION_POLICY_DECISION(decision))));
        static_cast<WebKitSignInBrowser*>(self)->events_.OnNavigationStarting(navigation);
        return navigation.cancelled() ? TRUE : FALSE;  // FALSE: WebKit goes on as usual
    }
    static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
        WebKitNewWindow request(RequestedUri(action));
        static_cast<WebKitSignInBrowser*>(self)->events_.OnNewWindowRequested(request);
        return nullptr;
    }

    GObjectPtr<WebKitWebView> view_;
    SignInEvents& events_;
};

// A browser made but not yet reported: reported from inside the loop, as WebView2 does, or
// reported aborted when the window went first.
struct PendingBrowser {
    GObjectPtr<WebKitWebView> view;
    GtkWidget* window;  // a weak pointer: null once the window is destroyed
    SignInEvents* events;
};

class WebKitBrowserFactory final : public SignInBrowserFactory {
  public:
    WebKitBrowserFactory() = default;
    WebKitBrowserFactory(const WebKitBrowserFactory&) = delete;
    WebKitBrowserFactory& operator=(const WebKitBrowserFactory&) = delete;

    void Start(void* window, const std::filesystem::path& dataFolder,
               SignInEvents& events) override {
        // Sunk, so that this reference is ours and the window's is its own.
        GObjectPtr<WebKitWebView> view(static_cast<WebKitWebView*>(g_object_ref_sink(
            WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(NewContext(dataFolder).get())))));
        gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view.get()));
        gtk_widget_show(GTK_WIDGET(view.get()));

        auto pending = std::make_unique<PendingBrowser>(
            PendingBrowser{std::move(view), GTK_WIDGET(window), &events});
        g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&pending->window));
        g_idle_add(&Report, pending.release());  // Report takes it back
    }

  private:
    // A context of the sign-in's own (the view holds it): nothing of an earlier sign-in's cookies
    // or caches, and nothing left in the folder once the view is gone.
    static GObjectPtr<WebKitWebContext> NewContext(const std::filesystem::path& dataFolder) {
        const std::string data = (dataFolder / "data").string();
        const std::string cache = (dataFolder / "cache").string();
        const GObjectPtr<WebKitWebsiteDataManager> manager(webkit_website_data_manager_new(
            "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr));
        return GObjectPtr<WebKitWebContext>(
            webkit_web_context_new_with_website_data_manager(manager.get()));
    }

    static gboolean Report(gpointer data) {
        const std::unique_ptr<PendingBrowser> pending(static_cast<PendingBrowser*>(data));
        if (pending->window == nullptr) {
            pending->view.reset();
            pending->events->OnCreateWebViewControllerCompleted(kSignInAborted, nullptr);
        } else {
            g_object_remove_weak_pointer(G_OBJECT(pending->window),
                                         reinterpret_cast<gpointer*>(&pending->window));
            try {
                pending->events->OnCreateWebViewControllerCompleted(
                    kSignInOk, std::make_unique<WebKitSignInBrowser>(std::move(pending->view),
                                                                     *pending->events));
            } catch (...) {  // only the browser's allocation can throw; pending keeps the view
                pending->events->OnCallbackFailed(std::current_exception());
            }
        }
        return G_SOURCE_REMOVE;
    }
};

}  // namespace

std::shared_ptr<SignInBrowserFactory> CreateWebKitBrowserFactory() {
    return std::make_shared<WebKitBrowserFactory>();
}

void KeepWebKitLoaded() noexcept {
    std::string whyNot;
    if (!NativeLibrary::PinLibraryAt(reinterpret_cast<const void*>(&webkit_web_view_new),
                                     &whyNot)) {
        MORVA_LOG_WARN("Could not keep WebKitGTK loaded: {}", whyNot);
    }
}

}  // namespace morva
