// The shared object's attach and detach. The "instance" handed to LoadDll is an address inside
// this library, which is how the Linux side finds the library's own file (dladdr).
#include "host/library_lifecycle.h"

namespace {

__attribute__((constructor)) void OnLibraryLoad() {
    LoadDll(reinterpret_cast<void*>(&OnLibraryLoad));  // a failed load cannot be refused here
}

__attribute__((destructor)) void OnLibraryUnload() {
    UnloadDll();
}

}  // namespace
