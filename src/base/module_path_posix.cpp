#include <dlfcn.h>

#include <system_error>

#include "base/module_path.h"
#include "base/morva_error.h"

namespace morva {

std::filesystem::path ModuleFilePath(const void* instance) {
    Dl_info info{};
    if (instance == nullptr || dladdr(instance, &info) == 0 || info.dli_fname == nullptr ||
        info.dli_fname[0] == '\0') {
        throw MorvaError("%s failed", "Find library path");
    }
    // A library loaded by a relative path is named relative to the working directory.
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(info.dli_fname, error);
    if (error) {
        throw MorvaError("%s failed. %s", "Find library path", error.message());
    }
    return path;
}

}  // namespace morva
