#include <unistd.h>

#include "terminal.h"

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

void EnableColourCodes() {}
