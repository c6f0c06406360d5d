#include <windows.h>

#include <atomic>

#include "host/library_pin.h"
#include "host/log.h"
#include "util/last_error.h"

namespace morva {

namespace {
std::atomic<bool> pinned{false};
}  // namespace

void PinLibrary() noexcept {
    if (pinned.load()) {
        return;
    }
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&PinLibrary)),
                           &module)) {
        pinned.store(true);
    } else {
        MORVA_LOG_WARN("Could not keep the library loaded: {}", LastErrorText());
    }
}

bool LibraryPinned() noexcept {
    return pinned.load();
}

}  // namespace morva
