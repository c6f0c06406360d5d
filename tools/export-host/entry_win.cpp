// Wide entry point: paths with characters outside the ANSI code page reach the host intact.
#include <windows.h>

#include <string>
#include <vector>

#include "library.h"

int RunHost(const std::vector<std::string>& args);

int wmain(int argc, wchar_t** argv) {
    // The host prints UTF-8.
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(NarrowUtf16(reinterpret_cast<const char16_t*>(argv[i])));
    }
    return RunHost(args);
}
