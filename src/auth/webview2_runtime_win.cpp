#include <windows.h>

#include <filesystem>
#include <string>

#include "auth/webview2_runtime.h"
#include "base/module_path.h"
#include "base/registry_key_win.h"

namespace morva {

namespace {

// The client library must match the process that loads it.
constexpr std::u16string_view kArchitecture = sizeof(void*) == 8 ? u"x64" : u"x86";

bool IsFile(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::u16string EnvironmentVariable(const wchar_t* name) {
    std::u16string value;
    for (;;) {
        const DWORD room = static_cast<DWORD>(value.size());
        const DWORD length =
            GetEnvironmentVariableW(name, reinterpret_cast<wchar_t*>(value.data()), room + 1);
        if (length == 0) {
            return {};
        }
        if (length <= room) {
            value.resize(length);
            return value;
        }
        value.resize(length);  // the length asked for counts the terminating zero
    }
}

std::u16string InApplicationFolder(const std::u16string& folder) {
    const std::filesystem::path path(reinterpret_cast<const wchar_t*>(folder.c_str()));
    if (path.is_absolute()) {
        return folder;
    }
    const std::wstring resolved = (ModuleFilePath(nullptr).parent_path() / path).wstring();
    return {resolved.begin(), resolved.end()};
}

}  // namespace

std::optional<WebView2Runtime> FindWebView2Runtime(std::u16string_view clientStateKey) {
    const std::u16string fixed = EnvironmentVariable(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER");
    if (!fixed.empty()) {
        std::u16string library =
            WebView2ClientLibraryPath(InApplicationFolder(fixed), kArchitecture);
        if (!IsFile(library)) {
            return std::nullopt;
        }
        return WebView2Runtime{std::move(library), true};
    }
    const std::u16string subKey(clientStateKey);
    std::vector<std::u16string> folders;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            const UniqueRegistryKey key = OpenRegistryKeyForReading(
                root, reinterpret_cast<const wchar_t*>(subKey.c_str()), view);
            if (!key) {
                continue;
            }
            if (std::optional<std::u16string> folder =
                    ReadRegistryString(key.get(), L"EBWebView")) {
                folders.push_back(std::move(*folder));
            }
        }
    }
    std::optional<std::u16string> library =
        ChooseInstalledWebView2Runtime(folders, kArchitecture, IsFile);
    if (!library) {
        return std::nullopt;
    }
    return WebView2Runtime{std::move(*library), false};
}

}  // namespace morva
