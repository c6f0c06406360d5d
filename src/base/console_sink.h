#pragma once

#include <spdlog/sinks/base_sink.h>

#include <mutex>
#include <string_view>

namespace morva::log {

// The log lines on standard output, LF-terminated. On Windows a console gets them as UTF-16
// (WriteConsoleW), anything else (a pipe, a file) as UTF-8 bytes. Elsewhere only a terminal gets
// them, or any standard output when MORVA_LOG_STDOUT=1: the host's pipe is not ours to fill. A
// line the output cannot take at once is dropped rather than waited for, and a closed pipe is no
// signal to the host. Never throws.
class ConsoleSink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    ConsoleSink();

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;

  private:
    // Platform parts, checked once: whether standard output gets lines at all, whether it is a
    // Windows console; writing one line.
    static bool StandardOutputWanted() noexcept;
    static bool StandardOutputIsConsole() noexcept;
    void Write(std::string_view line) noexcept;

    bool wanted_;
    bool console_;
};

}  // namespace morva::log
