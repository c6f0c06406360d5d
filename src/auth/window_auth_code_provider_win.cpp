#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "auth/browser_data_folder.h"
#include "auth/sign_in_browser.h"
#include "auth/sign_in_state_machine.h"
#include "auth/sign_in_window_class.h"
#include "auth/webview2_browser.h"
#include "auth/window_auth_code_provider.h"
#include "base/last_error.h"
#include "base/morva_error.h"
#include "base/unique_any.h"

namespace morva {

namespace {

constexpr const wchar_t* kClassName = L"Morva_MetaTrader_Orderbook_Auth";
constexpr const wchar_t* kWindowTitle = L"Morva Sign-in";
constexpr int kWidth = 800;
constexpr int kHeight = 1000;
// IDI_APPLICATION, in its wide form (the narrow one is the default without UNICODE).
const LPCWSTR kApplicationIcon = MAKEINTRESOURCEW(32512);

// CoUninitialize belongs to the thread that entered, once for every CoInitialize that succeeded
// (S_FALSE too); the handle is that thread's id, never 0. On any other thread it would end that
// thread's apartment instead, so there it is left undone.
void LeaveComApartment(DWORD thread) noexcept {
    if (thread == GetCurrentThreadId()) {
        CoUninitialize();
    }
}
using UniqueComApartment = UniqueAny<DWORD, LeaveComApartment>;

// The calling thread in a single-threaded apartment, as WebView2 requires, until the owner goes.
UniqueComApartment EnterComApartment() {
    const HRESULT com = CoInitialize(nullptr);
    if (FAILED(com)) {
        ThrowStatus("Initialize COM as single-thread apartment (STA)",
                    static_cast<std::uint32_t>(com));
    }
    return UniqueComApartment(GetCurrentThreadId());
}

// The Win32 window of one sign-in at a time, with the message loop of the calling thread. Its
// user-data slot points back here while the window serves a sign-in.
class Win32SignInWindow final : public SignInWindow {
  public:
    Win32SignInWindow(HINSTANCE instance, std::shared_ptr<SignInBrowserFactory> browsers)
        : instance_(instance), browsers_(std::move(browsers)) {}
    ~Win32SignInWindow() override { Destroy(); }
    Win32SignInWindow(const Win32SignInWindow&) = delete;
    Win32SignInWindow& operator=(const Win32SignInWindow&) = delete;

    void Open(SignInEvents& events) override {
        events_ = &events;
        dataFolder_.emplace(BrowserDataFolder::ForSignIn());
        window_ =
            CreateWindowExW(0, kClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, kWidth, kHeight, nullptr, nullptr, instance_, nullptr);
        if (window_ == nullptr) {
            ThrowLastError("Create auth window");
        }
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ShowWindow(window_, SW_HIDE);
        if (!UpdateWindow(window_)) {
            throw MorvaError("%s failed", "Update auth window");
        }
        apartment_ = EnterComApartment();
        browsers_->Start(window_, dataFolder_->path(), events);
    }

    void RunLoop() override {
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    void EndLoop(int exitCode) override { PostQuitMessage(exitCode); }

    // WM_DESTROY, not WM_CLOSE: the window procedure ends the loop, and the window goes after it.
    void PostClose() override {
        if (window_ != nullptr) {
            PostMessageW(window_, WM_DESTROY, 0, 0);
        }
    }

    bool Exists() const override { return window_ != nullptr; }
    bool IsVisible() const override { return window_ != nullptr && IsWindowVisible(window_); }
    void Show() override {
        if (window_ != nullptr) {
            ShowWindow(window_, SW_SHOWNORMAL);
        }
    }
    SignInRect ClientRect() const override {
        RECT rect{};
        if (window_ != nullptr) {
            GetClientRect(window_, &rect);
        }
        return {rect.left, rect.top, rect.right, rect.bottom};
    }

    // Unlinked first, so that this WM_DESTROY does not post a quit message that would end the
    // thread's next loop.
    void Destroy() noexcept override {
        if (HWND window = std::exchange(window_, nullptr)) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            DestroyWindow(window);
        }
        // After the browser (closed before this) and the window: both lived in the apartment.
        apartment_.reset();
        // The browser's process may hold files a moment after it closed; the removal waits that
        // out here, on the sign-in's thread.
        dataFolder_.reset();
    }

    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
            case WM_DESTROY:
                PostQuitMessage(0);
                return 0;
            case WM_SIZE:
                if (events_ != nullptr) {
                    events_->OnWindowSize();
                }
                return 0;
            case WM_NCDESTROY:
                // Closed by the user: the default handling destroyed the window.
                window_ = nullptr;
                break;
            default:
                break;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

  private:
    HINSTANCE instance_;
    std::shared_ptr<SignInBrowserFactory> browsers_;
    SignInEvents* events_ = nullptr;
    HWND window_ = nullptr;
    UniqueComApartment apartment_;  // from Open to Destroy, both on the sign-in's thread
    std::optional<BrowserDataFolder> dataFolder_;  // likewise
};

LRESULT CALLBACK SignInWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* signIn = reinterpret_cast<Win32SignInWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (signIn == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);  // during creation
    }
    return signIn->Handle(window, message, wParam, lParam);
}

}  // namespace

SignInWindowClass RegisterSignInWindowClass(void* moduleInstance) {
    const auto instance = static_cast<HINSTANCE>(moduleInstance);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = SignInWindowProcedure;
    windowClass.hInstance = instance;
    // The library has no icon resource, so both come back null and the class has none.
    windowClass.hIcon = LoadIconW(instance, kApplicationIcon);
    windowClass.hIconSm = LoadIconW(instance, kApplicationIcon);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    const ATOM atom = RegisterClassExW(&windowClass);
    if (atom == 0) {
        ThrowLastError("Register auth window class");
    }
    return SignInWindowClass({atom, moduleInstance});
}

void UnregisterSignInWindowClass(SignInWindowClassRegistration registration) noexcept {
    UnregisterClassW(MAKEINTRESOURCEW(registration.atom),
                     static_cast<HINSTANCE>(registration.moduleInstance));
}

struct WindowAuthCodeProvider::Platform {};

WindowAuthCodeProvider::WindowAuthCodeProvider(void* moduleInstance)
    : WindowAuthCodeProvider(moduleInstance, nullptr) {}

WindowAuthCodeProvider::WindowAuthCodeProvider(void* moduleInstance,
                                               std::shared_ptr<SignInBrowserFactory> browsers) {
    if (browsers == nullptr) {
        browsers = CreateWebView2BrowserFactory(moduleInstance);
    }
    impl_ = std::make_unique<Impl>(std::make_unique<Win32SignInWindow>(
        static_cast<HINSTANCE>(moduleInstance), std::move(browsers)));
}

WindowAuthCodeProvider::~WindowAuthCodeProvider() = default;

std::u16string WindowAuthCodeProvider::GetAuthCode(const AuthConfig& config,
                                                   const AuthorizationRequest& request) {
    return impl_->GetAuthCode(config, request);
}

std::shared_ptr<AuthCodeProvider> CreatePlatformAuthCodeProvider(void* moduleInstance) {
    return std::make_shared<WindowAuthCodeProvider>(moduleInstance);
}

}  // namespace morva
