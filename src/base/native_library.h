#pragma once

#include <filesystem>
#include <string>

#include "base/unique_any.h"

namespace morva {

namespace native_library_detail {
void Unload(void* library) noexcept;
using Function = void (*)();
}  // namespace native_library_detail

// A dynamic library loaded by this process, unloaded when the object goes away.
class NativeLibrary {
  public:
    NativeLibrary() = default;

    // Loads a library by absolute path, or a system library by bare name. The search never looks
    // in the current folder or along PATH on Windows: a path's own folder, the application's
    // folder and System32 only. Returns an empty object on failure and, when asked, the reason.
    static NativeLibrary Open(const std::filesystem::path& pathOrName,
                              std::string* whyNot = nullptr) noexcept;

    // Keeps the library that holds `address` loaded until the process ends, whoever unloads it.
    // Returns false, with the reason when asked, when the system refuses.
    static bool PinLibraryAt(const void* address, std::string* whyNot = nullptr) noexcept;

    explicit operator bool() const noexcept { return static_cast<bool>(handle_); }

    // A function the library exports, typed by the caller (`Symbol<decltype(::Api)>("Api")`);
    // null when it has none.
    template <class Function>
    Function* Symbol(const char* name) const noexcept {
        // Through void (*)(), the one function-pointer type a cast may pass through cleanly.
        return reinterpret_cast<Function*>(FindSymbol(name));
    }

  private:
    explicit NativeLibrary(void* handle) noexcept : handle_(handle) {}
    native_library_detail::Function FindSymbol(const char* name) const noexcept;

    UniqueAny<void*, native_library_detail::Unload> handle_;
};

}  // namespace morva
