#include "base/registry_key_win.h"

#include <vector>

namespace morva {

void registry_key_detail::Close(HKEY key) noexcept {
    RegCloseKey(key);
}

UniqueRegistryKey OpenRegistryKeyForReading(HKEY root, const wchar_t* subKey,
                                            REGSAM view) noexcept {
    UniqueRegistryKey key;
    if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
        return {};
    }
    return key;
}

std::optional<std::u16string> ReadRegistryString(HKEY key, const wchar_t* name) {
    // The value may change between the size query and the read: a few tries.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = 0;
        DWORD bytes = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
            type != REG_SZ) {
            return std::nullopt;
        }
        std::vector<char16_t> text(bytes / sizeof(char16_t) + 1, u'\0');
        DWORD read = bytes;
        const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type,
                                                reinterpret_cast<BYTE*>(text.data()), &read);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            return std::nullopt;
        }
        text.resize(read / sizeof(char16_t));
        std::u16string value(text.begin(), text.end());
        return value.substr(0, value.find(u'\0'));
    }
    return std::nullopt;
}

}  // namespace morva
