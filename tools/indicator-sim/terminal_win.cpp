#include <io.h>
#include <windows.h>

#include <cstdio>

#include "terminal.h"

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

void EnableColourCodes() {
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}
