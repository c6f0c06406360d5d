#include <dlfcn.h>

#include "base/native_library.h"

namespace morva {

namespace {

std::string LoaderError() {
    const char* reason = dlerror();
    return reason != nullptr ? reason : "unknown error";
}

}  // namespace

void native_library_detail::Unload(void* library) noexcept {
    dlclose(library);
}

NativeLibrary NativeLibrary::Open(const std::filesystem::path& pathOrName,
                                  std::string* whyNot) noexcept {
    void* library = dlopen(pathOrName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr && whyNot != nullptr) {
        *whyNot = LoaderError();
    }
    return NativeLibrary(library);
}

bool NativeLibrary::PinLibraryAt(const void* address, std::string* whyNot) noexcept {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        if (whyNot != nullptr) {
            *whyNot = "dladdr failed";
        }
        return false;
    }
    // A reference never released, on a library marked never to be unloaded.
    if (dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr) {
        return true;
    }
    if (whyNot != nullptr) {
        *whyNot = LoaderError();
    }
    return false;
}

native_library_detail::Function NativeLibrary::FindSymbol(const char* name) const noexcept {
    // dlsym would take a null handle for the global scope.
    if (!handle_) {
        return nullptr;
    }
    return reinterpret_cast<native_library_detail::Function>(dlsym(handle_.get(), name));
}

}  // namespace morva
