#pragma once

#include <spdlog/sinks/base_sink.h>

#include <mutex>
#include <string_view>

namespace morva::log {

// The log lines on standard output, LF-terminated. On Windows a console gets them as UTF-16
// (WriteConsoleW), anything else (a pipe, a file) as UTF-8 bytes. Never throws.
class ConsoleSink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    ConsoleSink();

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;

  private:
    // Platform parts: whether standard output is a console, checked once; writing one line.
    static bool StandardOutputIsConsole() noexcept;
    void Write(std::string_view line) noexcept;

    bool console_;
};

}  // namespace morva::log
