// The Windows entry point. It runs under the loader lock: attach and detach do their own work on
// this thread and never wait for another one.
#include <windows.h>

#include "host/library_lifecycle.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return LoadDll(instance) ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            return UnloadDll() ? TRUE : FALSE;
        default:
            return TRUE;
    }
}
