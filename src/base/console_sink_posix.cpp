#include <cstdio>

#include "base/console_sink.h"

namespace morva::log {

bool ConsoleSink::StandardOutputIsConsole() noexcept {
    return false;
}

void ConsoleSink::Write(std::string_view line) noexcept {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace morva::log
