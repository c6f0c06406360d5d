#include <gtk/gtk.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "auth/browser_data_folder.h"
#include "auth/sign_in_browser.h"
#include "auth/sign_in_state_machine.h"
#include "auth/sign_in_window_class.h"
#include "auth/webkit_browser.h"
#include "auth/window_auth_code_provider.h"
#include "base/morva_error.h"

namespace morva {

namespace {

constexpr const char* kWindowTitle = "Morva Sign-in";
constexpr int kWidth = 800;
constexpr int kHeight = 1000;

template <class Function>
GCallback Callback(Function* function) {
    return reinterpret_cast<GCallback>(function);  // void (*)(void) takes any function type
}

// A GTK top-level window for one sign-in at a time, with a main loop of its own nested in the GTK
// thread's loop. Lives on the GTK thread.
class GtkSignInWindow final : public SignInWindow {
  public:
    explicit GtkSignInWindow(std::shared_ptr<SignInBrowserFactory> browsers)
        : browsers_(std::move(browsers)) {}
    ~GtkSignInWindow() override { Destroy(); }
    GtkSignInWindow(const GtkSignInWindow&) = delete;
    GtkSignInWindow& operator=(const GtkSignInWindow&) = delete;

    void Open(SignInEvents& events) override {
        ++generation_;
        quitRequested_ = false;
        dataFolder_.emplace(BrowserDataFolder::ForSignIn());
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window_), kWindowTitle);
        gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);
        destroyHandler_ = g_signal_connect(window_, "destroy", Callback(&OnDestroyed), this);
        browsers_->Start(window_, dataFolder_->path(), events);
    }

    void RunLoop() override {
        if (quitRequested_) {
            return;
        }
        loop_ = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(loop_);
        g_main_loop_unref(std::exchange(loop_, nullptr));
    }

    void EndLoop(int /*exitCode*/) override {
        quitRequested_ = true;
        if (loop_ != nullptr) {
            g_main_loop_quit(loop_);
        }
    }

    // Like a posted WM_DESTROY: ends the loop from inside it, unless that sign-in is over by then.
    void PostClose() override {
        auto close = std::make_unique<PostedClose>(PostedClose{this, generation_});
        g_idle_add(&OnPostedClose, close.release());  // OnPostedClose takes it back
    }

    bool Exists() const override { return window_ != nullptr; }
    bool IsVisible() const override {
        return window_ != nullptr && gtk_widget_get_visible(window_) != FALSE;
    }
    void Show() override {
        if (window_ != nullptr) {
            gtk_window_present(GTK_WINDOW(window_));
        }
    }
    SignInRect ClientRect() const override {
        gint width = 0;
        gint height = 0;
        if (window_ != nullptr) {
            gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
        }
        return {0, 0, width, height};
    }

    void Destroy() noexcept override {
        if (GtkWidget* window = std::exchange(window_, nullptr)) {
            g_signal_handler_disconnect(window, destroyHandler_);
            gtk_widget_destroy(window);
        }
        // Last: the view, and with it the browser's web context, went with the window.
        dataFolder_.reset();
    }

  private:
    struct PostedClose {
        GtkSignInWindow* window;
        std::uint64_t generation;
    };

    // The user closed the window (the default delete handling destroys it).
    static void OnDestroyed(GtkWidget*, gpointer self) {
        auto* window = static_cast<GtkSignInWindow*>(self);
        window->window_ = nullptr;
        window->EndLoop(0);
    }
    static gboolean OnPostedClose(gpointer data) {
        const std::unique_ptr<PostedClose> close(static_cast<PostedClose*>(data));
        if (close->generation == close->window->generation_) {
            close->window->EndLoop(0);
        }
        return G_SOURCE_REMOVE;
    }

    std::shared_ptr<SignInBrowserFactory> browsers_;
    std::optional<BrowserDataFolder> dataFolder_;  // from Open to Destroy
    GtkWidget* window_ = nullptr;
    gulong destroyHandler_ = 0;
    GMainLoop* loop_ = nullptr;
    bool quitRequested_ = false;
    std::uint64_t generation_ = 0;
};

std::string NoDisplayText() {
    const char* display = g_getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return "No display: DISPLAY is not set";
    }
    return std::string("Cannot open display ") + display;
}

}  // namespace

SignInWindowClass RegisterSignInWindowClass(void* /*moduleInstance*/) {
    return {};
}

void UnregisterSignInWindowClass(SignInWindowClassRegistration /*registration*/) noexcept {}

// The GTK thread and the sign-ins waiting for it.
struct WindowAuthCodeProvider::Platform {
    struct Request {
        AuthConfig config;
        AuthorizationRequest authorization;
        std::promise<std::u16string> result;
    };

    std::mutex mutex;  // guards everything below
    std::thread thread;
    GMainLoop* loop = nullptr;  // the thread's own loop while it runs
    std::deque<std::shared_ptr<Request>> requests;

    // The GTK thread: GTK set up (or no display: null loop), then its loop until the provider ends.
    static void Run(WindowAuthCodeProvider& provider, std::promise<GMainLoop*> started);
};

WindowAuthCodeProvider::WindowAuthCodeProvider(void* moduleInstance)
    : WindowAuthCodeProvider(moduleInstance, nullptr) {}

WindowAuthCodeProvider::WindowAuthCodeProvider(void* /*moduleInstance*/,
                                               std::shared_ptr<SignInBrowserFactory> browsers)
    : platform_(std::make_unique<Platform>()) {
    if (browsers == nullptr) {
        browsers = CreateWebKitBrowserFactory();
    }
    impl_ = std::make_unique<Impl>(std::make_unique<GtkSignInWindow>(std::move(browsers)));
}

WindowAuthCodeProvider::~WindowAuthCodeProvider() {
    std::thread thread;
    {
        const std::lock_guard lock(platform_->mutex);
        if (platform_->loop != nullptr) {
            // Closes a window still open (its sign-in returns an empty code), then ends the thread,
            // which releases the window and the browser there, where they belong.
            g_idle_add(
                [](gpointer data) -> gboolean {
                    auto* self = static_cast<WindowAuthCodeProvider*>(data);
                    self->impl_->window().EndLoop(0);
                    g_main_loop_quit(self->platform_->loop);
                    return G_SOURCE_REMOVE;
                },
                this);
        }
        thread = std::move(platform_->thread);
    }
    if (thread.joinable()) {
        thread.join();
    }
    impl_.reset();
}

namespace {

// Runs what is ready on the GTK thread's context, so that nothing posted earlier is left to run
// after the objects it points to are gone. Bounded, in case something keeps itself ready.
void DrainPending() {
    for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE) != FALSE; ++i) {
    }
}

}  // namespace

void WindowAuthCodeProvider::Platform::Run(WindowAuthCodeProvider& provider,
                                           std::promise<GMainLoop*> started) {
    Platform& platform = *provider.platform_;
    // The process's locale is the host's: left to itself GTK sets it from the environment, and a
    // decimal comma would then change how every other module of the host reads numbers. Once per
    // process: GTK warns when asked after its initialisation.
    static std::once_flag localeKept;
    std::call_once(localeKept, gtk_disable_setlocale);
    if (!gtk_init_check(nullptr, nullptr)) {
        started.set_value(nullptr);
        return;
    }
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    started.set_value(loop);
    g_main_loop_run(loop);

    {
        const std::lock_guard lock(platform.mutex);
        platform.loop = nullptr;
        for (const auto& waiting : platform.requests) {
            waiting->result.set_exception(
                std::make_exception_ptr(MorvaError("Auth window closed: shutting down")));
        }
        platform.requests.clear();
    }
    DrainPending();
    provider.impl_.reset();  // window and browser end on the thread that made them
    DrainPending();
    g_main_loop_unref(loop);
}

std::u16string WindowAuthCodeProvider::GetAuthCode(const AuthConfig& config,
                                                   const AuthorizationRequest& authorization) {
    auto request =
        std::make_shared<Platform::Request>(Platform::Request{config, authorization, {}});
    std::future<std::u16string> result = request->result.get_future();
    {
        const std::lock_guard lock(platform_->mutex);
        if (platform_->loop == nullptr) {
            if (platform_->thread.joinable()) {
                platform_->thread.join();  // an earlier start that found no display
            }
            std::promise<GMainLoop*> started;
            std::future<GMainLoop*> loop = started.get_future();
            platform_->thread = std::thread(&Platform::Run, std::ref(*this), std::move(started));
            platform_->loop = loop.get();
            if (platform_->loop == nullptr) {
                platform_->thread.join();
                throw MorvaError("%s failed. %s", "Open display for auth window", NoDisplayText());
            }
        }
        platform_->requests.push_back(request);
        g_idle_add(
            [](gpointer data) -> gboolean {
                auto* self = static_cast<WindowAuthCodeProvider*>(data);
                std::shared_ptr<Platform::Request> next;
                {
                    const std::lock_guard inner(self->platform_->mutex);
                    if (self->platform_->requests.empty()) {
                        return G_SOURCE_REMOVE;
                    }
                    next = std::move(self->platform_->requests.front());
                    self->platform_->requests.pop_front();
                }
                try {
                    next->result.set_value(
                        self->impl_->GetAuthCode(next->config, next->authorization));
                } catch (...) {
                    next->result.set_exception(std::current_exception());
                }
                return G_SOURCE_REMOVE;
            },
            this);
    }
    return result.get();  // without the lock: the GTK thread takes it
}

std::shared_ptr<AuthCodeProvider> CreatePlatformAuthCodeProvider(void* moduleInstance) {
    KeepWebKitLoaded();
    return std::make_shared<WindowAuthCodeProvider>(moduleInstance);
}

}  // namespace morva
