#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "auth/sign_in_browser.h"

namespace morva {

// Where a user without the WebView2 runtime gets it.
inline constexpr const char* kWebView2RuntimeDownloadUrl =
    "https://developer.microsoft.com/en-us/microsoft-edge/webview2/";

// Microsoft Edge WebView2 browsers for the sign-in window. WebView2Loader.dll is loaded on first
// use, from the library's own folder first, then from the application's folder or System32 (never
// the current folder or PATH), so the library imports no DLL beyond the system's. The browser keeps
// its data in `userDataFolder`.
std::shared_ptr<SignInBrowserFactory> CreateWebView2BrowserFactory(
    void* moduleInstance, std::filesystem::path userDataFolder);

// The failure text for a status from the start of environment creation: the runtime missing or
// unable to start, the data folder unusable, or "Create WebView environment failed (0x%08X)".
[[noreturn]] void ThrowWebViewEnvironmentError(std::int32_t status);

}  // namespace morva
