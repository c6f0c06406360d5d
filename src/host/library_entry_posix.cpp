// The shared object's attach and detach. The "instance" handed to LoadDll is an address inside
// this library, which is how the Linux side finds the library's own file (dladdr).
#include "host/library_lifecycle.h"
#include "host/library_pin.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() {
    LoadDll(reinterpret_cast<void*>(&OnLibraryLoad));  // a failed load cannot be refused here
}

__attribute__((destructor)) void OnLibraryUnload() {
    // A pinned library is unloaded only at process exit, while its background tasks may still
    // run: tearing the module down would wait for them (or pull state from under them). The
    // process's end reclaims everything.
    if (morva::LibraryPinned()) {
        return;
    }
    UnloadDll();
}

}  // namespace
