#pragma once

#include <spdlog/formatter.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace morva::log {

// "FATAL" "ERROR" "WARN" "INFO" "DEBUG" "VERB" for spdlog's critical..trace, "NONE" otherwise.
std::string_view SeverityName(spdlog::level::level_enum level) noexcept;

// One record per line:
// "2026-12-06 10:18:54.123 INFO  [4242] [morva::Module::InitCreds@123] Authorized ...<eol>"
// (UTC time, severity padded to five, thread id, function name and line, message). Control
// characters in the message are escaped (\r \n \t, others \xHH), so a line is always one record.
// Not thread-safe: each sink owns its own copy and calls it under its lock.
class LogLineFormatter final : public spdlog::formatter {
  public:
    explicit LogLineFormatter(std::string eol);

    void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override;
    std::unique_ptr<spdlog::formatter> clone() const override;

  private:
    // "YYYY-MM-DD HH:MM:SS" of the last second seen: records mostly arrive within one second.
    void CacheStamp(std::chrono::sys_seconds second);

    std::string eol_;
    std::chrono::sys_seconds cachedSecond_{};
    std::array<char, 32> cachedStamp_{};  // room for years beyond four digits
    std::size_t cachedLength_ = 0;        // 0: nothing cached yet
};

}  // namespace morva::log
