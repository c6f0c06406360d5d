#include "auth/webview2_runtime.h"

#include <algorithm>

namespace morva {

std::optional<WebView2Version> ParseWebView2Version(std::u16string_view text) noexcept {
    WebView2Version version{};
    for (std::size_t part = 0; part < version.size(); ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != u'.') {
                return std::nullopt;
            }
            text.remove_prefix(1);
        }
        std::uint64_t number = 0;
        std::size_t digits = 0;
        while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9') {
            number = number * 10 + static_cast<std::uint64_t>(text[digits] - u'0');
            if (number > UINT32_MAX) {
                return std::nullopt;
            }
            ++digits;
        }
        if (digits == 0) {
            return std::nullopt;
        }
        version[part] = static_cast<std::uint32_t>(number);
        text.remove_prefix(digits);
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    return version;
}

std::u16string WebView2ClientLibraryPath(std::u16string_view folder,
                                         std::u16string_view architecture) {
    std::u16string path(folder);
    if (!path.empty() && path.back() != u'\\' && path.back() != u'/') {
        path += u'\\';
    }
    path += u"EBWebView\\";
    path += architecture;
    path += u"\\EmbeddedBrowserWebView.dll";
    return path;
}

std::optional<std::u16string> ChooseInstalledWebView2Runtime(
    const std::vector<std::u16string>& folders, std::u16string_view architecture,
    const std::function<bool(const std::u16string&)>& exists) {
    constexpr WebView2Version kOldestWithEntryPoint = {86, 0, 616, 0};
    std::optional<WebView2Version> newest;
    std::optional<std::u16string> chosen;
    for (const std::u16string& folder : folders) {
        std::u16string_view name(folder);
        while (!name.empty() && (name.back() == u'\\' || name.back() == u'/')) {
            name.remove_suffix(1);
        }
        const std::size_t separator = name.find_last_of(u"\\/");
        const std::optional<WebView2Version> version = ParseWebView2Version(
            separator == std::u16string_view::npos ? std::u16string_view()
                                                   : name.substr(separator + 1));
        if (!version || *version < kOldestWithEntryPoint || (newest && *version <= *newest)) {
            continue;
        }
        std::u16string library = WebView2ClientLibraryPath(folder, architecture);
        if (exists(library)) {
            newest = version;
            chosen = std::move(library);
        }
    }
    return chosen;
}

}  // namespace morva
