// The Windows entry point. It runs under the loader lock: attach and detach do their own work on
// this thread and never wait for another one.
#include <windows.h>

#include "host/library_lifecycle.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return LoadDll(instance) ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            // The process is ending: other threads are gone, perhaps holding locks we would
            // need. The system reclaims everything; cleaning up could only hang or crash.
            // (Once InitDLL has pinned the library, this is the only detach there is.)
            if (reserved != nullptr) {
                return TRUE;
            }
            return UnloadDll() ? TRUE : FALSE;
        default:
            return TRUE;
    }
}
