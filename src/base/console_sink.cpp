#include "base/console_sink.h"

#include <memory>

#include "base/log_line_formatter.h"

namespace morva::log {

ConsoleSink::ConsoleSink()
    : base_sink(std::make_unique<LogLineFormatter>("\n")),
      wanted_(StandardOutputWanted()),
      console_(StandardOutputIsConsole()) {}

void ConsoleSink::sink_it_(const spdlog::details::log_msg& msg) {
    if (!wanted_) {
        return;
    }
    try {
        spdlog::memory_buf_t line;
        formatter_->format(msg, line);
        Write(std::string_view(line.data(), line.size()));
    } catch (...) {
        // Logging never fails its caller; the line is lost.
    }
}

void ConsoleSink::flush_() {
    // Lines are written unbuffered; stdout's buffer is the host's.
}

}  // namespace morva::log
