#include <dlfcn.h>

#include <atomic>

#include "host/library_pin.h"
#include "host/log.h"

namespace morva {

namespace {
std::atomic<bool> pinned{false};
}  // namespace

void PinLibrary() noexcept {
    if (pinned.load()) {
        return;
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&PinLibrary), &info) == 0 ||
        info.dli_fname == nullptr) {
        MORVA_LOG_WARN("Could not keep the library loaded: dladdr failed");
        return;
    }
    // A reference that is never released, on an object marked never to be unloaded.
    if (dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr) {
        pinned.store(true);
    } else {
        const char* reason = dlerror();
        MORVA_LOG_WARN("Could not keep the library loaded: {}", reason != nullptr ? reason : "");
    }
}

bool LibraryPinned() noexcept {
    return pinned.load();
}

}  // namespace morva
