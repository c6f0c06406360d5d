#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

namespace morva {

// The seams between the sign-in's state machine (WindowAuthCodeProvider::Impl) and a platform:
// a browser control, the window that hosts it and the loop that serves both. Every call and every
// event happens on the window's thread, from inside its loop. Results are 32-bit statuses in the
// manner of Windows HRESULTs: negative means failed.

using SignInStatus = std::int32_t;

inline constexpr SignInStatus kSignInOk = 0;
inline constexpr SignInStatus kSignInFailed = static_cast<SignInStatus>(0x80004005);   // E_FAIL
inline constexpr SignInStatus kSignInAborted = static_cast<SignInStatus>(0x80004004);  // E_ABORT

struct SignInRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// One navigation that is about to start.
class SignInNavigation {
  public:
    virtual SignInStatus GetUri(std::u16string& uri) = 0;
    // The target is never loaded.
    virtual SignInStatus Cancel() = 0;

  protected:
    ~SignInNavigation() = default;
};

// A page's request for a window of its own: a link with target=_blank, window.open.
class SignInNewWindow {
  public:
    virtual SignInStatus GetUri(std::u16string& uri) = 0;
    // No window is opened for it.
    virtual SignInStatus Refuse() = 0;

  protected:
    ~SignInNewWindow() = default;
};

// The browser control, once it exists.
class SignInBrowser {
  public:
    virtual SignInStatus SetVisible(bool visible) = 0;
    virtual SignInStatus SetBounds(const SignInRect& bounds) = 0;
    // Scripts and script dialogs on; web messages, context menus, status bar and developer tools
    // off. Throws MorvaError naming the step that failed.
    virtual void Configure() = 0;
    // From now on the browser reports source changes and navigation starts to its events.
    virtual SignInStatus SubscribeSourceChanged() = 0;
    virtual SignInStatus SubscribeNavigationStarting() = 0;
    // From now on the browser reports a page's requests for new windows to its events, and opens
    // none that is refused there.
    virtual SignInStatus SubscribeNewWindowRequested() = 0;
    virtual SignInStatus Navigate(const std::u16string& url) = 0;
    virtual SignInStatus NavigateToString(const std::u16string& html) = 0;
    // Tears the control down; no event follows.
    virtual void Close() noexcept = 0;
    virtual ~SignInBrowser() = default;
};

// What the browser and the window report. Each browser event returns the status to hand back to
// the browser: kSignInOk, or kSignInFailed once a failure has been recorded and the loop ended.
class SignInEvents {
  public:
    // The browser control is ready (status >= 0, browser set), could not be made (negative), or
    // its making was abandoned because the window went first (kSignInAborted).
    virtual SignInStatus OnCreateWebViewControllerCompleted(
        SignInStatus status, std::unique_ptr<SignInBrowser> browser) = 0;
    virtual SignInStatus OnWebViewSourceChanged() = 0;
    virtual SignInStatus OnNavigationStarting(SignInNavigation& navigation) = 0;
    virtual SignInStatus OnNewWindowRequested(SignInNewWindow& request) = 0;
    // A failure in a platform's own part of a callback.
    virtual SignInStatus OnCallbackFailed(std::exception_ptr failure) = 0;
    // The window's client area changed size.
    virtual void OnWindowSize() = 0;

  protected:
    ~SignInEvents() = default;
};

// Makes browser controls inside a platform window (an HWND, a GtkWindow*).
class SignInBrowserFactory {
  public:
    // Starts making a browser control in `window` that keeps its profile in `dataFolder`, the
    // sign-in's own; OnCreateWebViewControllerCompleted follows later, from inside the window's
    // loop. Throws MorvaError when it cannot even start.
    virtual void Start(void* window, const std::filesystem::path& dataFolder,
                       SignInEvents& events) = 0;
    virtual ~SignInBrowserFactory() = default;
};

// The platform's sign-in window with its loop.
class SignInWindow {
  public:
    // Creates the hidden window, prepares the thread and starts the browser. Throws MorvaError;
    // a window created before the failure is destroyed again.
    virtual void Open(SignInEvents& events) = 0;
    // Serves the window until EndLoop; closing the window ends the loop with exit code 0.
    virtual void RunLoop() = 0;
    // Ends the loop with this exit code (the loop may not be running yet: it then ends at once).
    virtual void EndLoop(int exitCode) = 0;
    // Asks the window, from inside the loop, to end it (a posted WM_DESTROY on Windows); the
    // window itself stays until Destroy.
    virtual void PostClose() = 0;
    virtual bool Exists() const = 0;
    virtual bool IsVisible() const = 0;
    virtual void Show() = 0;
    virtual SignInRect ClientRect() const = 0;
    // Destroys the window if it still exists, without ending a later loop.
    virtual void Destroy() noexcept = 0;
    virtual ~SignInWindow() = default;
};

}  // namespace morva
