#include "host/library_pin.h"

#include <atomic>
#include <string>

#include "base/log.h"
#include "base/native_library.h"

namespace morva {

namespace {
std::atomic<bool> pinned{false};
}  // namespace

void PinLibrary() noexcept {
    if (pinned.load()) {
        return;
    }
    std::string whyNot;
    if (NativeLibrary::PinLibraryAt(reinterpret_cast<const void*>(&PinLibrary), &whyNot)) {
        pinned.store(true);
    } else {
        MORVA_LOG_WARN("Could not keep the library loaded: {}", whyNot);
    }
}

bool LibraryPinned() noexcept {
    return pinned.load();
}

}  // namespace morva
