#pragma once

#include <cstdint>
#include <memory>

#include "auth/sign_in_browser.h"

namespace morva {

namespace webview2 {
struct ICoreWebView2Controller;
}  // namespace webview2

// Where a user without the WebView2 runtime gets it.
inline constexpr const char* kWebView2RuntimeDownloadUrl =
    "https://developer.microsoft.com/en-us/microsoft-edge/webview2/";

// Microsoft Edge WebView2 browsers for the sign-in window. WebView2Loader.dll is loaded on first
// use, from the library's own folder first, then from the application's folder or System32 (never
// the current folder or PATH), so the library imports no DLL beyond the system's. Each browser
// has an environment of its own over the sign-in's data folder.
std::shared_ptr<SignInBrowserFactory> CreateWebView2BrowserFactory(void* moduleInstance);

// What WebView2's report of a made controller means to the sign-in: a browser over the controller,
// or a failure, "WebView2 returned no controller" for a success without one. Returns the status
// for WebView2.
SignInStatus OnWebView2ControllerCreated(SignInEvents& events, SignInStatus status,
                                         webview2::ICoreWebView2Controller* controller);

// The failure text for a status from the start of environment creation: the runtime missing or
// unable to start, the data folder unusable, or "Create WebView environment failed (0x%08X)".
[[noreturn]] void ThrowWebViewEnvironmentError(std::int32_t status);

}  // namespace morva
