#include <windows.h>

#include <cstdio>
#include <string>

#include "base/console_sink.h"
#include "util/utf.h"

namespace morva::log {

bool ConsoleSink::StandardOutputWanted() noexcept {
    return true;
}

bool ConsoleSink::StandardOutputIsConsole() noexcept {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode);
}

void ConsoleSink::Write(std::string_view line) noexcept {
    if (console_) {
        try {
            const std::u16string wide = Utf8ToUtf16(std::string(line));
            DWORD written = 0;
            WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), wide.data(),
                          static_cast<DWORD>(wide.size()), &written, nullptr);
        } catch (...) {
            // The line is lost, like one the console refuses.
        }
        return;
    }
    // UTF-8 rather than the ANSI code page, which cannot hold every character a line may carry.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace morva::log
