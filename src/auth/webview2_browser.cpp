#include "auth/webview2_browser.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "auth/webview2_api.h"
#include "auth/webview2_runtime.h"
#include "base/last_error.h"
#include "base/log.h"
#include "base/module_path.h"
#include "base/morva_error.h"
#include "base/native_library.h"

namespace morva {

namespace {

using namespace webview2;

// Owns one COM reference.
template <class T>
class ComRef {
  public:
    ComRef() = default;
    static ComRef Adopt(T* pointer) noexcept {
        ComRef ref;
        ref.pointer_ = pointer;
        return ref;
    }
    static ComRef Retain(T* pointer) noexcept {
        if (pointer != nullptr) {
            pointer->AddRef();
        }
        return Adopt(pointer);
    }
    ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { Reset(); }

    void Reset() noexcept {
        if (T* pointer = std::exchange(pointer_, nullptr)) {
            pointer->Release();
        }
    }
    T** Put() noexcept {
        Reset();
        return &pointer_;
    }
    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

  private:
    T* pointer_ = nullptr;
};

// IUnknown for the handlers the browser calls back; the browser holds them as long as it needs.
template <class Interface>
class ComObject : public Interface {
  public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, Interface::kIid)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;  // COM's own lifetime rule: the last Release frees the object
        }
        return left;
    }

  private:
    std::atomic<ULONG> references_ = 1;
};

template <class Handler, class... Args>
ComRef<Handler> MakeHandler(Args&&... args) {
    return ComRef<Handler>::Adopt(new Handler(std::forward<Args>(args)...));
}

const wchar_t* Wide(const std::u16string& text) noexcept {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

class WebView2Navigation final : public SignInNavigation {
  public:
    explicit WebView2Navigation(ICoreWebView2NavigationStartingEventArgs* args) : args_(args) {}

    SignInStatus GetUri(std::u16string& uri) override {
        LPWSTR raw = nullptr;
        const HRESULT result = args_->get_Uri(&raw);
        if (FAILED(result)) {
            return result;
        }
        uri = raw != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(raw))
                             : std::u16string();
        CoTaskMemFree(raw);
        return S_OK;
    }
    SignInStatus Cancel() override { return args_->put_Cancel(TRUE); }

  private:
    ICoreWebView2NavigationStartingEventArgs* args_;
};

class NavigationStartingHandler final
    : public ComObject<ICoreWebView2NavigationStartingEventHandler> {
  public:
    explicit NavigationStartingHandler(SignInEvents& events) : events_(events) {}
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* /*sender*/,
                                     ICoreWebView2NavigationStartingEventArgs* args) override {
        WebView2Navigation navigation(args);
        return events_.OnNavigationStarting(navigation);
    }

  private:
    SignInEvents& events_;
};

class WebView2NewWindow final : public SignInNewWindow {
  public:
    explicit WebView2NewWindow(ICoreWebView2NewWindowRequestedEventArgs* args) : args_(args) {}

    SignInStatus GetUri(std::u16string& uri) override {
        LPWSTR raw = nullptr;
        const HRESULT result = args_->get_Uri(&raw);
        if (FAILED(result)) {
            return result;
        }
        uri = raw != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(raw))
                             : std::u16string();
        CoTaskMemFree(raw);
        return S_OK;
    }
    SignInStatus Refuse() override { return args_->put_Handled(TRUE); }

  private:
    ICoreWebView2NewWindowRequestedEventArgs* args_;
};

class NewWindowRequestedHandler final
    : public ComObject<ICoreWebView2NewWindowRequestedEventHandler> {
  public:
    explicit NewWindowRequestedHandler(SignInEvents& events) : events_(events) {}
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* /*sender*/,
                                     ICoreWebView2NewWindowRequestedEventArgs* args) override {
        WebView2NewWindow request(args);
        return events_.OnNewWindowRequested(request);
    }

  private:
    SignInEvents& events_;
};

class SourceChangedHandler final : public ComObject<ICoreWebView2SourceChangedEventHandler> {
  public:
    explicit SourceChangedHandler(SignInEvents& events) : events_(events) {}
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* /*sender*/,
                                     ICoreWebView2SourceChangedEventArgs* /*args*/) override {
        return events_.OnWebViewSourceChanged();
    }

  private:
    SignInEvents& events_;
};

class WebView2Browser final : public SignInBrowser {
  public:
    WebView2Browser(ComRef<ICoreWebView2Controller> controller, SignInEvents& events)
        : controller_(std::move(controller)), events_(events) {}
    ~WebView2Browser() override { Close(); }
    WebView2Browser(const WebView2Browser&) = delete;
    WebView2Browser& operator=(const WebView2Browser&) = delete;

    SignInStatus SetVisible(bool visible) override {
        return controller_->put_IsVisible(visible ? TRUE : FALSE);
    }
    SignInStatus SetBounds(const SignInRect& bounds) override {
        return controller_->put_Bounds(RECT{bounds.left, bounds.top, bounds.right, bounds.bottom});
    }
    void Configure() override {
        HRESULT result = controller_->get_CoreWebView2(webView_.Put());
        if (FAILED(result)) {
            ThrowStatus("Get WebView", static_cast<std::uint32_t>(result));
        }
        if (!webView_) {
            throw MorvaError("WebView2 returned no view");
        }
        ComRef<ICoreWebView2Settings> settings;
        result = webView_->get_Settings(settings.Put());
        if (FAILED(result)) {
            ThrowStatus("Get WebView settings", static_cast<std::uint32_t>(result));
        }
        // A setting that does not take leaves the browser usable; its result is not worth a
        // failed sign-in.
        settings->put_IsScriptEnabled(TRUE);
        settings->put_AreDefaultScriptDialogsEnabled(TRUE);
        settings->put_IsWebMessageEnabled(FALSE);
        settings->put_AreDefaultContextMenusEnabled(FALSE);
        settings->put_IsStatusBarEnabled(FALSE);
        settings->put_AreDevToolsEnabled(FALSE);
    }
    SignInStatus SubscribeSourceChanged() override {
        EventRegistrationToken token{};  // the handler stays for the life of the browser
        return webView_->add_SourceChanged(MakeHandler<SourceChangedHandler>(events_).get(),
                                           &token);
    }
    SignInStatus SubscribeNavigationStarting() override {
        EventRegistrationToken token{};
        return webView_->add_NavigationStarting(
            MakeHandler<NavigationStartingHandler>(events_).get(), &token);
    }
    SignInStatus SubscribeNewWindowRequested() override {
        EventRegistrationToken token{};
        return webView_->add_NewWindowRequested(
            MakeHandler<NewWindowRequestedHandler>(events_).get(), &token);
    }
    SignInStatus Navigate(const std::u16string& url) override {
        return webView_->Navigate(Wide(url));
    }
    SignInStatus NavigateToString(const std::u16string& html) override {
        return webView_->NavigateToString(Wide(html));
    }
    void Close() noexcept override {
        webView_.Reset();
        if (controller_) {
            controller_->Close();
            controller_.Reset();
        }
    }

  private:
    ComRef<ICoreWebView2Controller> controller_;
    ComRef<ICoreWebView2> webView_;
    SignInEvents& events_;
};

class ControllerCompletedHandler final
    : public ComObject<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> {
  public:
    explicit ControllerCompletedHandler(SignInEvents& events) : events_(events) {}
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT status, ICoreWebView2Controller* controller) override {
        return OnWebView2ControllerCreated(events_, status, controller);
    }

  private:
    SignInEvents& events_;
};

class EnvironmentCompletedHandler final
    : public ComObject<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> {
  public:
    EnvironmentCompletedHandler(HWND window, SignInEvents& events)
        : window_(window), events_(events) {}

    // The environment itself is not kept: the controller holds what it needs.
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT status,
                                     ICoreWebView2Environment* environment) override {
        try {
            OnCreateWebViewEnvironmentCompleted(status, environment);
            return S_OK;
        } catch (...) {
            return events_.OnCallbackFailed(std::current_exception());
        }
    }

  private:
    void OnCreateWebViewEnvironmentCompleted(HRESULT status,
                                             ICoreWebView2Environment* environment) {
        if (FAILED(status)) {
            ThrowStatus("Complete WebView environment creation",
                        static_cast<std::uint32_t>(status));
        }
        if (environment == nullptr) {
            ThrowStatus("Complete WebView environment creation",
                        static_cast<std::uint32_t>(E_POINTER));
        }
        const HRESULT result = environment->CreateCoreWebView2Controller(
            window_, MakeHandler<ControllerCompletedHandler>(events_).get());
        if (FAILED(result)) {
            ThrowStatus("Create WebView controller", static_cast<std::uint32_t>(result));
        }
        MORVA_LOG_DEBUG("Successfully created WebView environment");
    }

    HWND window_;
    SignInEvents& events_;
};

class WebView2BrowserFactory final : public SignInBrowserFactory {
  public:
    explicit WebView2BrowserFactory(HMODULE module) : module_(module) {}

    void Start(void* window, const std::filesystem::path& dataFolder,
               SignInEvents& events) override {
        const HRESULT result = CreateEnvironment(
            dataFolder,
            MakeHandler<EnvironmentCompletedHandler>(static_cast<HWND>(window), events).get());
        if (FAILED(result)) {
            ThrowWebViewEnvironmentError(result);
        }
    }

  private:
    HRESULT CreateEnvironment(const std::filesystem::path& dataFolder,
                              ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
        const std::lock_guard lock(libraryMutex_);
        if (!library_) {
            Load();
        }
        if (loaderCreate_ != nullptr) {
            return loaderCreate_(nullptr, dataFolder.c_str(), nullptr, handler);
        }
        return runtimeCreate_(true, runtimeType_, dataFolder.c_str(), nullptr, handler);
    }

    // Loaded on first use and kept with the factory. Only a dynamic unload of a library that
    // could not be pinned frees it under the loader lock, which FreeLibrary allows outside
    // process exit. A failed load is tried again by the next sign-in, after an installation.
    void Load() {
        constexpr const wchar_t* kLoader = L"WebView2Loader.dll";
        std::filesystem::path folder;
        try {
            folder = ModuleFilePath(module_).parent_path();
        } catch (const MorvaError&) {
            // Unknown: only the search is left.
        }
        // A loader shipped beside the library was put there on purpose: it decides.
        if (!folder.empty()) {
            if (NativeLibrary beside = NativeLibrary::Open(folder / kLoader)) {
                return UseLoader(std::move(beside), folder / kLoader);
            }
        }
        if (const std::optional<WebView2Runtime> runtime = FindWebView2Runtime()) {
            return UseRuntime(*runtime);
        }
        // By bare name the search is the application's folder and System32.
        if (NativeLibrary searched = NativeLibrary::Open(kLoader)) {
            return UseLoader(std::move(searched), kLoader);
        }
        MORVA_LOG_ERROR("Neither a WebView2 runtime nor WebView2Loader.dll is installed");
        ThrowWebViewEnvironmentError(
            static_cast<std::int32_t>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
    }

    void UseLoader(NativeLibrary loader, const std::filesystem::path& path) {
        const auto create =
            loader.Symbol<std::remove_pointer_t<CreateCoreWebView2EnvironmentWithOptionsFn>>(
                "CreateCoreWebView2EnvironmentWithOptions");
        if (create == nullptr) {
            throw MorvaError("%ls has no CreateCoreWebView2EnvironmentWithOptions",
                             path.u16string());
        }
        library_ = std::move(loader);
        loaderCreate_ = create;
    }

    void UseRuntime(const WebView2Runtime& runtime) {
        const std::filesystem::path path(
            reinterpret_cast<const wchar_t*>(runtime.clientLibrary.c_str()));
        std::string whyNot;
        NativeLibrary client = NativeLibrary::Open(path, &whyNot);
        if (!client) {
            throw MorvaError("WebView runtime %ls cannot be loaded: %s", runtime.clientLibrary,
                             whyNot);
        }
        const auto create =
            client.Symbol<std::remove_pointer_t<CreateWebViewEnvironmentWithOptionsInternalFn>>(
                "CreateWebViewEnvironmentWithOptionsInternal");
        if (create == nullptr) {
            throw MorvaError(
                "WebView runtime %ls has no CreateWebViewEnvironmentWithOptionsInternal",
                runtime.clientLibrary);
        }
        MORVA_LOG_INFO("Using WebView runtime {}", runtime.clientLibrary);
        library_ = std::move(client);
        runtimeCreate_ = create;
        runtimeType_ = runtime.fixedVersion ? RuntimeType::kFixedVersion : RuntimeType::kInstalled;
    }

    HMODULE module_;
    std::mutex libraryMutex_;  // guards everything below
    NativeLibrary library_;
    CreateCoreWebView2EnvironmentWithOptionsFn loaderCreate_ = nullptr;
    CreateWebViewEnvironmentWithOptionsInternalFn runtimeCreate_ = nullptr;
    RuntimeType runtimeType_ = RuntimeType::kInstalled;
};

}  // namespace

SignInStatus OnWebView2ControllerCreated(SignInEvents& events, SignInStatus status,
                                         webview2::ICoreWebView2Controller* controller) {
    std::unique_ptr<SignInBrowser> browser;
    if (SUCCEEDED(status)) {
        try {
            if (controller == nullptr) {
                throw MorvaError("WebView2 returned no controller");
            }
            browser = std::make_unique<WebView2Browser>(
                ComRef<webview2::ICoreWebView2Controller>::Retain(controller), events);
        } catch (...) {
            return events.OnCallbackFailed(std::current_exception());
        }
    }
    return events.OnCreateWebViewControllerCompleted(status, std::move(browser));
}

std::shared_ptr<SignInBrowserFactory> CreateWebView2BrowserFactory(void* moduleInstance) {
    return std::make_shared<WebView2BrowserFactory>(static_cast<HMODULE>(moduleInstance));
}

void ThrowWebViewEnvironmentError(std::int32_t status) {
    switch (static_cast<std::uint32_t>(status)) {
        case 0x80004005:
            throw MorvaError("WebView runtime unable to start");
        case 0x80070002:
            throw MorvaError("WebView runtime not installed. Download from: %s",
                             kWebView2RuntimeDownloadUrl);
        case 0x80070005:
            throw MorvaError("Unable to create user data folder");
        case 0x80070050:
            throw MorvaError(
                "WebView user data folder cannot be created because a file with the same name "
                "already exists");
        default:
            ThrowStatus("Create WebView environment", static_cast<std::uint32_t>(status));
    }
}

}  // namespace morva
