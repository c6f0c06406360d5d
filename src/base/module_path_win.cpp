#include <windows.h>

#include <string>
#include <string_view>

#include "base/last_error.h"
#include "base/module_path.h"
#include "base/morva_error.h"

namespace morva {

std::filesystem::path ModuleFilePath(const void* instance) {
    // Longer than any path Windows can hand out, extended-length ones included.
    constexpr DWORD kLongest = 65536;
    const auto module = static_cast<HMODULE>(const_cast<void*>(instance));
    std::u16string buffer(MAX_PATH, u'\0');
    for (;;) {
        const auto capacity = static_cast<DWORD>(buffer.size());
        const DWORD length =
            GetModuleFileNameW(module, reinterpret_cast<wchar_t*>(buffer.data()), capacity);
        if (length == 0) {
            ThrowLastError("Get library path");
        }
        if (length < capacity) {
            return std::filesystem::path(
                std::wstring_view(reinterpret_cast<const wchar_t*>(buffer.data()), length));
        }
        // Cut to fit: try again with more room.
        if (capacity >= kLongest) {
            throw MorvaError("%s failed", "Get library path");
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace morva
