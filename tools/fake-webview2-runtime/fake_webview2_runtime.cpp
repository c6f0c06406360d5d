// A stand-in for the WebView2 runtime's EmbeddedBrowserWebView.dll, so that the library's own
// WebView2 adapter runs a whole sign-in under Wine, where the real runtime does not. Behind the
// runtime's entry point it makes the environment, controller and view, in front of a broker that
// either signs the user in at once or waits for them. Like the real runtime it calls back later,
// from the calling thread's message loop, never from inside a call; and it refuses calls from any
// other thread.
#include "fake_webview2_runtime.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "auth/webview2_api.h"

namespace {

using namespace morva::webview2;
namespace fake = morva::test::fake_webview2;

std::atomic<long> liveObjects = 0;

// Written on the sign-in's thread, set and read on the test's.
struct Journal {
    std::mutex mutex;  // guards everything below
    std::wstring text;
    std::optional<std::wstring> signInCode;
    fake::Observer observer = nullptr;
    void* context = nullptr;
};

Journal& TheJournal() {
    static Journal journal;
    return journal;
}

void Record(const std::wstring& entry, HWND parent) {
    fake::Observer observer = nullptr;
    void* context = nullptr;
    {
        Journal& journal = TheJournal();
        const std::lock_guard lock(journal.mutex);
        journal.text += entry;
        journal.text += L'\n';
        observer = journal.observer;
        context = journal.context;
    }
    // Unlocked: the observer may read the journal.
    if (observer != nullptr) {
        observer(entry.c_str(), parent, context);
    }
}

std::optional<std::wstring> SignInCode() {
    Journal& journal = TheJournal();
    const std::lock_guard lock(journal.mutex);
    return journal.signInCode;
}

const wchar_t* Flag(BOOL value) {
    return value ? L"1" : L"0";
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// One COM reference.
template <class T>
class Ref {
  public:
    Ref() = default;
    explicit Ref(T* pointer) noexcept : pointer_(pointer) {
        if (pointer_ != nullptr) {
            pointer_->AddRef();
        }
    }
    static Ref Adopt(T* pointer) noexcept {
        Ref ref;
        ref.pointer_ = pointer;
        return ref;
    }
    Ref(const Ref& other) noexcept : Ref(other.pointer_) {}
    Ref(Ref&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~Ref() {
        if (pointer_ != nullptr) {
            pointer_->Release();
        }
    }
    // Another reference for a caller, who releases it.
    T* Share() const noexcept {
        pointer_->AddRef();
        return pointer_;
    }
    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }

  private:
    T* pointer_ = nullptr;
};

template <class T, class... Args>
Ref<T> Make(Args&&... args) {
    return Ref<T>::Adopt(new T(std::forward<Args>(args)...));
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// Runs tasks later, one per posted message, from the loop of the thread that posted them. Its
// message-only window lives while there is a task to run or an object alive, so that nothing of
// this library is left behind in the process once the browser is gone.
class Dispatcher {
  public:
    static Dispatcher& Instance() {
        static Dispatcher dispatcher;
        return dispatcher;
    }

    bool Post(std::function<void()> task) {
        if (window_ == nullptr && !Create()) {
            return false;
        }
        tasks_.push_back(std::move(task));
        if (!PostMessageW(window_, kRunTask, 0, 0)) {
            tasks_.pop_back();
            return false;
        }
        return true;
    }

    void DestroyIfIdle() noexcept {
        if (window_ != nullptr && tasks_.empty() && liveObjects == 0) {
            DestroyWindow(std::exchange(window_, nullptr));
            UnregisterClassW(kClassName, ThisModule());
        }
    }

  private:
    static constexpr UINT kRunTask = WM_APP + 1;
    static constexpr const wchar_t* kClassName = L"FakeWebView2RuntimeDispatcher";

    bool Create() {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = ThisModule();
        windowClass.lpszClassName = kClassName;
        if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return false;
        }
        window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ThisModule(), nullptr);
        return window_ != nullptr;
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != kRunTask) {
            return DefWindowProcW(window, message, wParam, lParam);
        }
        Dispatcher& self = Instance();
        if (!self.tasks_.empty()) {
            std::function<void()> task = std::move(self.tasks_.front());
            self.tasks_.pop_front();
            task();
        }  // the task's references go before the check
        self.DestroyIfIdle();
        return 0;
    }

    HWND window_ = nullptr;
    std::deque<std::function<void()>> tasks_;
};

bool Post(std::function<void()> task) {
    return Dispatcher::Instance().Post(std::move(task));
}

// A COM object of the runtime's, counted while alive, which belongs to the thread that made it.
// Callers here never ask for any interface but IUnknown.
template <class Interface>
class Counted : public Interface {
  public:
    explicit Counted(HWND parent) : parent_(parent) { ++liveObjects; }
    virtual ~Counted() { --liveObjects; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (!IsEqualIID(iid, IID_IUnknown)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;  // COM's own lifetime rule: the last Release frees the object
            Dispatcher::Instance().DestroyIfIdle();
        }
        return left;
    }

  protected:
    bool OnOwnThread(const wchar_t* method) const {
        if (GetCurrentThreadId() == thread_) {
            return true;
        }
        Record(std::wstring(L"wrong-thread ") + method, parent_);
        return false;
    }

    const HWND parent_;

  private:
    std::atomic<ULONG> references_ = 1;
    const DWORD thread_ = GetCurrentThreadId();
};

LPWSTR ToTaskMemory(const std::wstring& text) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), bytes);
    }
    return copy;
}

HRESULT Give(const std::wstring& text, LPWSTR* out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = ToTaskMemory(text);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Give(BOOL value, BOOL* out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = value;
    return S_OK;
}

// --- What the broker does with the authorize page ---

std::string Utf8(std::wstring_view text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

std::wstring Wide(std::string_view bytes) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(size > 0 ? static_cast<std::size_t>(size) : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                        size);
    return text;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// As a server reads a query value: %XX are UTF-8 bytes, '+' is a space.
std::wstring DecodeQueryValue(std::wstring_view value) {
    std::string bytes;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == L'%' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 &&
            HexDigit(value[i + 2]) >= 0) {
            bytes += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
            i += 2;
        } else if (value[i] == L'+') {
            bytes += ' ';
        } else {
            bytes += Utf8(value.substr(i, 1));
        }
    }
    return Wide(bytes);
}

std::wstring EncodeQueryValue(std::wstring_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::wstring encoded;
    for (const char byte : Utf8(value)) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += static_cast<wchar_t>(c);
        } else {
            encoded += L'%';
            encoded += static_cast<wchar_t>(kHex[c >> 4]);
            encoded += static_cast<wchar_t>(kHex[c & 15]);
        }
    }
    return encoded;
}

std::map<std::wstring, std::wstring> QueryOf(std::wstring_view url) {
    std::map<std::wstring, std::wstring> query;
    const std::size_t start = url.find(L'?');
    if (start == std::wstring_view::npos) {
        return query;
    }
    std::wstring_view rest = url.substr(start + 1);
    rest = rest.substr(0, rest.find(L'#'));
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(L'&'), rest.size());
        const std::wstring_view pair = rest.substr(0, end);
        const std::size_t equals = pair.find(L'=');
        if (equals != std::wstring_view::npos) {
            query.emplace(DecodeQueryValue(pair.substr(0, equals)),
                          DecodeQueryValue(pair.substr(equals + 1)));
        }
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return query;
}

// Where a broker that signs the user in at once sends the browser from `url`: the authorize
// request's redirect_uri with the code and the request's own state.
std::optional<std::wstring> RedirectOf(const std::wstring& url) {
    const std::optional<std::wstring> code = SignInCode();
    if (!code) {
        return std::nullopt;
    }
    const std::map<std::wstring, std::wstring> query = QueryOf(url);
    const auto redirectUri = query.find(L"redirect_uri");
    const auto state = query.find(L"state");
    if (redirectUri == query.end() || state == query.end()) {
        return std::nullopt;
    }
    std::wstring redirect = redirectUri->second;
    redirect += redirect.find(L'?') == std::wstring::npos ? L'?' : L'&';
    redirect += L"code=" + EncodeQueryValue(*code) + L"&state=" + EncodeQueryValue(state->second);
    return redirect;
}

// --- The runtime's objects ---

class Settings final : public Counted<ICoreWebView2Settings> {
  public:
    using Counted::Counted;

    HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL* value) override {
        return Give(script_, value);
    }
    HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL value) override {
        return Put(L"IsScriptEnabled", script_, value);
    }
    HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL* value) override {
        return Give(webMessages_, value);
    }
    HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL value) override {
        return Put(L"IsWebMessageEnabled", webMessages_, value);
    }
    HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL* value) override {
        return Give(dialogs_, value);
    }
    HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL value) override {
        return Put(L"AreDefaultScriptDialogsEnabled", dialogs_, value);
    }
    HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL* value) override {
        return Give(statusBar_, value);
    }
    HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL value) override {
        return Put(L"IsStatusBarEnabled", statusBar_, value);
    }
    HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL* value) override {
        return Give(devTools_, value);
    }
    HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL value) override {
        return Put(L"AreDevToolsEnabled", devTools_, value);
    }
    HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL* value) override {
        return Give(contextMenus_, value);
    }
    HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL value) override {
        return Put(L"AreDefaultContextMenusEnabled", contextMenus_, value);
    }

  private:
    HRESULT Put(const wchar_t* name, BOOL& setting, BOOL value) {
        if (!OnOwnThread(name)) {
            return RPC_E_WRONG_THREAD;
        }
        setting = value;
        Record(std::wstring(L"setting ") + name + L"=" + Flag(value), parent_);
        return S_OK;
    }

    // WebView2's defaults: everything on.
    BOOL script_ = TRUE;
    BOOL webMessages_ = TRUE;
    BOOL dialogs_ = TRUE;
    BOOL statusBar_ = TRUE;
    BOOL devTools_ = TRUE;
    BOOL contextMenus_ = TRUE;
};

class NavigationStartingArgs final : public Counted<ICoreWebView2NavigationStartingEventArgs> {
  public:
    NavigationStartingArgs(HWND parent, std::wstring uri, bool redirected)
        : Counted(parent), uri_(std::move(uri)), redirected_(redirected) {}

    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return Give(uri_, uri); }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* userInitiated) override {
        return Give(FALSE, userInitiated);
    }
    HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* redirected) override {
        return Give(redirected_ ? TRUE : FALSE, redirected);
    }
    HRESULT STDMETHODCALLTYPE get_RequestHeaders(IUnknown** headers) override {
        if (headers != nullptr) {
            *headers = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) override { return Give(cancel_, cancel); }
    HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) override {
        if (!OnOwnThread(L"put_Cancel")) {
            return RPC_E_WRONG_THREAD;
        }
        cancel_ = cancel;
        return S_OK;
    }

    bool cancelled() const { return cancel_ != FALSE; }

  private:
    const std::wstring uri_;
    const bool redirected_;
    BOOL cancel_ = FALSE;
};

class SourceChangedArgs final : public Counted<ICoreWebView2SourceChangedEventArgs> {
  public:
    using Counted::Counted;
    HRESULT STDMETHODCALLTYPE get_IsNewDocument(BOOL* isNewDocument) override {
        return Give(TRUE, isNewDocument);
    }
};

class View final : public Counted<ICoreWebView2> {
  public:
    explicit View(HWND parent) : Counted(parent), settings_(Make<Settings>(parent)) {}

    // The controller closed: no more events, and the handlers are let go.
    void Shut() {
        closed_ = true;
        navigationStarting_.clear();
        sourceChanged_.clear();
        newWindowRequested_.clear();
    }

    HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override {
        if (settings == nullptr) {
            return E_POINTER;
        }
        *settings = settings_.Share();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override { return Give(source_, uri); }
    HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
        if (!OnOwnThread(L"Navigate")) {
            return RPC_E_WRONG_THREAD;
        }
        if (uri == nullptr) {
            return E_INVALIDARG;
        }
        if (closed_) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        }
        const std::wstring url = uri;
        Record(L"navigate " + url, parent_);
        return Post([self = Ref<View>(this), url] { self->Load(url); }) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR htmlContent) override {
        if (!OnOwnThread(L"NavigateToString")) {
            return RPC_E_WRONG_THREAD;
        }
        if (htmlContent == nullptr) {
            return E_INVALIDARG;
        }
        if (closed_) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        }
        Record(std::wstring(L"page ") + htmlContent, parent_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* handler,
                           EventRegistrationToken* token) override {
        return Subscribe(navigationStarting_, handler, token, L"add_NavigationStarting");
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken token) override {
        navigationStarting_.erase(token.value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_ContentLoading(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_SourceChanged(ICoreWebView2SourceChangedEventHandler* handler,
                                                EventRegistrationToken* token) override {
        return Subscribe(sourceChanged_, handler, token, L"add_SourceChanged");
    }
    HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken token) override {
        sourceChanged_.erase(token.value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_HistoryChanged(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_NavigationCompleted(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(IUnknown*,
                                                          EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(IUnknown*,
                                                           EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_PermissionRequested(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_ProcessFailed(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(LPCWSTR, IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CapturePreview(int, IUnknown*, IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reload() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_WebMessageReceived(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR, IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* value) override {
        if (value == nullptr) {
            return E_POINTER;
        }
        *value = GetCurrentProcessId();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL* canGoBack) override {
        return Give(FALSE, canGoBack);
    }
    HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL* canGoForward) override {
        return Give(FALSE, canGoForward);
    }
    HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR, IUnknown**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE
    add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* handler,
                           EventRegistrationToken* token) override {
        return Subscribe(newWindowRequested_, handler, token, L"add_NewWindowRequested");
    }

  private:
    template <class Handler>
    using Handlers = std::map<std::int64_t, Ref<Handler>>;

    template <class Handler>
    HRESULT Subscribe(Handlers<Handler>& handlers, Handler* handler, EventRegistrationToken* token,
                      const wchar_t* method) {
        if (!OnOwnThread(method)) {
            return RPC_E_WRONG_THREAD;
        }
        if (handler == nullptr || token == nullptr) {
            return E_POINTER;
        }
        if (closed_) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        }
        token->value = ++lastToken_;
        handlers.emplace(token->value, Ref<Handler>(handler));
        return S_OK;
    }

    // Those subscribed when the event starts, even if one of them unsubscribes.
    template <class Handler>
    static std::vector<Ref<Handler>> Snapshot(const Handlers<Handler>& handlers) {
        std::vector<Ref<Handler>> snapshot;
        for (const auto& [token, handler] : handlers) {
            snapshot.push_back(handler);
        }
        return snapshot;
    }

    void Load(const std::wstring& url) {
        if (!Start(url, false)) {
            return;
        }
        source_ = url;
        const auto args = Make<SourceChangedArgs>(parent_);
        Record(L"source " + url, parent_);
        for (const auto& handler : Snapshot(sourceChanged_)) {
            if (closed_) {
                return;
            }
            handler->Invoke(this, args.get());
        }
        if (const std::optional<std::wstring> redirect = RedirectOf(url)) {
            Post([self = Ref<View>(this), target = *redirect] { self->Start(target, true); });
        }
    }

    // NavigationStarting for `url`: whether the navigation goes on.
    bool Start(const std::wstring& url, bool redirected) {
        if (closed_) {
            return false;
        }
        Record(L"navigation-starting " + url, parent_);
        const auto args = Make<NavigationStartingArgs>(parent_, url, redirected);
        for (const auto& handler : Snapshot(navigationStarting_)) {
            if (closed_) {
                return false;
            }
            handler->Invoke(this, args.get());
        }
        if (args->cancelled()) {
            Record(L"cancelled " + url, parent_);
            return false;
        }
        Record(L"loaded " + url, parent_);
        return true;
    }

    const Ref<Settings> settings_;
    std::wstring source_ = L"about:blank";
    bool closed_ = false;
    std::int64_t lastToken_ = 0;
    Handlers<ICoreWebView2NavigationStartingEventHandler> navigationStarting_;
    Handlers<ICoreWebView2SourceChangedEventHandler> sourceChanged_;
    Handlers<ICoreWebView2NewWindowRequestedEventHandler> newWindowRequested_;
};

class Controller final : public Counted<ICoreWebView2Controller> {
  public:
    explicit Controller(HWND parent) : Counted(parent), view_(Make<View>(parent)) {}

    HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* isVisible) override {
        return Give(visible_, isVisible);
    }
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL isVisible) override {
        if (!OnOwnThread(L"put_IsVisible")) {
            return RPC_E_WRONG_THREAD;
        }
        if (closed_) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        }
        visible_ = isVisible;
        Record(std::wstring(L"visible ") + Flag(isVisible), parent_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
        if (bounds == nullptr) {
            return E_POINTER;
        }
        *bounds = bounds_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
        if (!OnOwnThread(L"put_Bounds")) {
            return RPC_E_WRONG_THREAD;
        }
        if (closed_) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        }
        bounds_ = bounds;
        Record(L"bounds " + std::to_wstring(bounds.right - bounds.left) + L"x" +
                   std::to_wstring(bounds.bottom - bounds.top),
               parent_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveFocus(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_GotFocus(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_LostFocus(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(IUnknown*,
                                                        EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parentWindow) override {
        if (parentWindow == nullptr) {
            return E_POINTER;
        }
        *parentWindow = parent_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close() override {
        if (!OnOwnThread(L"Close")) {
            return RPC_E_WRONG_THREAD;
        }
        if (!closed_) {
            closed_ = true;
            view_->Shut();
            Record(L"close", parent_);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** coreWebView2) override {
        if (coreWebView2 == nullptr) {
            return E_POINTER;
        }
        if (closed_) {
            *coreWebView2 = nullptr;
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        }
        *coreWebView2 = view_.Share();
        return S_OK;
    }

  private:
    const Ref<View> view_;
    BOOL visible_ = TRUE;
    RECT bounds_{};
    bool closed_ = false;
};

class Environment final : public Counted<ICoreWebView2Environment> {
  public:
    Environment() : Counted(nullptr) {}

    // Made later; abandoned with E_ABORT when the parent window is gone by then.
    HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parentWindow,
        ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override {
        if (!OnOwnThread(L"CreateCoreWebView2Controller")) {
            return RPC_E_WRONG_THREAD;
        }
        if (handler == nullptr) {
            return E_POINTER;
        }
        Record(L"controller parent=" + ClassName(parentWindow), parentWindow);
        const bool posted = Post(
            [self = Ref<Environment>(this), parentWindow,
             completed = Ref<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(handler)] {
                if (!IsWindow(parentWindow)) {
                    Record(L"controller-aborted", nullptr);
                    completed->Invoke(E_ABORT, nullptr);
                    return;
                }
                const auto controller = Make<Controller>(parentWindow);
                completed->Invoke(S_OK, controller.get());
            });
        return posted ? S_OK : E_FAIL;
    }
};

const wchar_t* TypeName(RuntimeType type) {
    switch (type) {
        case RuntimeType::kInstalled:
            return L"installed";
        case RuntimeType::kFixedVersion:
            return L"fixed";
    }
    return L"unknown";
}

}  // namespace

extern "C" {

HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool loaderFlag, RuntimeType runtimeType, PCWSTR userDataFolder, IUnknown* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
    const DWORD attributes =
        userDataFolder != nullptr ? GetFileAttributesW(userDataFolder) : INVALID_FILE_ATTRIBUTES;
    const bool folderExists =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    Record(std::wstring(L"start loader=") + (loaderFlag ? L"1" : L"0") + L" type=" +
               TypeName(runtimeType) + L" folder=" +
               (userDataFolder != nullptr ? userDataFolder : L"") + L" folder-exists=" +
               (folderExists ? L"1" : L"0") + L" options=" +
               (environmentOptions != nullptr ? L"given" : L"none"),
           nullptr);
    if (environmentCreatedHandler == nullptr) {
        return E_POINTER;
    }
    const bool posted =
        Post([completed = Ref<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
                  environmentCreatedHandler)] {
            const auto environment = Make<Environment>();
            Record(L"environment", nullptr);
            completed->Invoke(S_OK, environment.get());
        });
    return posted ? S_OK : E_FAIL;
}

void FakeWebView2Reset(const wchar_t* signInCode, fake::Observer observer, void* context) {
    Journal& journal = TheJournal();
    const std::lock_guard lock(journal.mutex);
    journal.text.clear();
    journal.signInCode =
        signInCode != nullptr ? std::optional<std::wstring>(signInCode) : std::nullopt;
    journal.observer = observer;
    journal.context = context;
}

std::size_t FakeWebView2Journal(wchar_t* buffer, std::size_t capacity) {
    Journal& journal = TheJournal();
    const std::lock_guard lock(journal.mutex);
    journal.text.copy(buffer, capacity);
    return journal.text.size();
}

long FakeWebView2LiveObjects() {
    return liveObjects;
}

}  // extern "C"

// The library calls these through pointers of exactly these types.
static_assert(std::is_same_v<decltype(&CreateWebViewEnvironmentWithOptionsInternal),
                             CreateWebViewEnvironmentWithOptionsInternalFn>);
static_assert(std::is_same_v<decltype(&FakeWebView2Reset), fake::ResetFn>);
static_assert(std::is_same_v<decltype(&FakeWebView2Journal), fake::JournalFn>);
static_assert(std::is_same_v<decltype(&FakeWebView2LiveObjects), fake::LiveObjectsFn>);
