#include <windows.h>

#include "base/last_error.h"
#include "base/native_library.h"

namespace morva {

void native_library_detail::Unload(void* library) noexcept {
    FreeLibrary(static_cast<HMODULE>(library));
}

NativeLibrary NativeLibrary::Open(const std::filesystem::path& pathOrName,
                                  std::string* whyNot) noexcept {
    // A path's own folder resolves the library's dependencies; nothing else beyond the
    // application's folder, System32 and folders added on purpose.
    const DWORD search = pathOrName.is_absolute()
                             ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                             : LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    HMODULE library = LoadLibraryExW(pathOrName.c_str(), nullptr, search);
    if (library == nullptr && whyNot != nullptr) {
        *whyNot = LastErrorText();
    }
    return NativeLibrary(library);
}

bool NativeLibrary::PinLibraryAt(const void* address, std::string* whyNot) noexcept {
    HMODULE library = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           static_cast<LPCWSTR>(address), &library)) {
        return true;
    }
    if (whyNot != nullptr) {
        *whyNot = LastErrorText();
    }
    return false;
}

native_library_detail::Function NativeLibrary::FindSymbol(const char* name) const noexcept {
    // GetProcAddress would take a null module for the process's executable.
    if (!handle_) {
        return nullptr;
    }
    return reinterpret_cast<native_library_detail::Function>(
        GetProcAddress(static_cast<HMODULE>(handle_.get()), name));
}

}  // namespace morva
