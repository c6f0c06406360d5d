#pragma once

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/ostream_sink.h>

#include <memory>
#include <sstream>
#include <string>

#include "base/log.h"

namespace morva::test {

// Installs a logger that captures lines as "level|function|message\n" for as long as it lives.
class CapturedLog {
  public:
    explicit CapturedLog(spdlog::level::level_enum level) {
        auto logger = std::make_shared<spdlog::logger>(
            "captured", std::make_shared<spdlog::sinks::ostream_sink_mt>(stream_));
        logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
            "%l|%!|%v", spdlog::pattern_time_type::utc, "\n"));
        logger->set_level(level);
        log::Install(logger);
    }
    ~CapturedLog() { log::Install(nullptr); }

    std::string Lines() const { return stream_.str(); }
    // The lines as "level|message\n": what the log format promises, without the C++ function.
    std::string Messages() const {
        std::istringstream lines(stream_.str());
        std::string messages;
        for (std::string line; std::getline(lines, line);) {
            const auto level = line.find('|');
            messages += line.substr(0, level) + line.substr(line.find('|', level + 1)) + "\n";
        }
        return messages;
    }

  private:
    std::ostringstream stream_;
};

}  // namespace morva::test
