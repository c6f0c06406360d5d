#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morva {

// A WebView2 runtime version, "120.0.2210.91".
using WebView2Version = std::array<std::uint32_t, 4>;

// Four decimal numbers joined by dots, each within 32 bits; nothing for any other text.
std::optional<WebView2Version> ParseWebView2Version(std::u16string_view text) noexcept;

// The client library of the runtime in `folder` for `architecture` ("x64", "x86"):
// folder\EBWebView\<architecture>\EmbeddedBrowserWebView.dll.
std::u16string WebView2ClientLibraryPath(std::u16string_view folder,
                                         std::u16string_view architecture);

// Among the folders of installed runtimes, each named by its version as the updater records
// them, the client library of the newest one from 86.0.616.0 on (older ones lack the entry point
// we call) that `exists` for `architecture`; nothing when there is none.
std::optional<std::u16string> ChooseInstalledWebView2Runtime(
    const std::vector<std::u16string>& folders, std::u16string_view architecture,
    const std::function<bool(const std::u16string&)>& exists);

// The runtime a sign-in window starts, found as WebView2's own loader finds it.
struct WebView2Runtime {
    std::u16string clientLibrary;
    // From WEBVIEW2_BROWSER_EXECUTABLE_FOLDER rather than installed.
    bool fixedVersion = false;
};

// Where the updater records the stable channel's runtime: its folder in the value "EBWebView".
inline constexpr std::u16string_view kWebView2ClientStateKey =
    u"Software\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

// Windows only. With WEBVIEW2_BROWSER_EXECUTABLE_FOLDER set (a relative folder is the
// application's), that folder's runtime or none; otherwise the newest runtime recorded under
// `clientStateKey` for the machine or the user, in either registry view, for this library's own
// architecture.
std::optional<WebView2Runtime> FindWebView2Runtime(
    std::u16string_view clientStateKey = kWebView2ClientStateKey);

}  // namespace morva
