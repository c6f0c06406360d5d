// Wide entry point: a library path outside the ANSI code page reaches the simulator intact.
#include <windows.h>

#include <string>
#include <vector>

#include "library.h"

int RunSimulator(const std::vector<std::string>& args);

int wmain(int argc, wchar_t** argv) {
    // The simulator prints UTF-8.
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(NarrowUtf16(reinterpret_cast<const char16_t*>(argv[i])));
    }
    return RunSimulator(args);
}
