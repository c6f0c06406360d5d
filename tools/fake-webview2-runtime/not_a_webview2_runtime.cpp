// A DLL laid out where a WebView2 runtime's client library belongs, without the runtime's entry
// point: what a damaged or foreign runtime folder looks like to the library.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
