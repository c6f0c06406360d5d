#include "host/logging_setup.h"

#include <string>
#include <utility>
#include <vector>

#include "base/console_sink.h"
#include "base/log.h"
#include "base/rolling_file_sink.h"

namespace morva {

std::filesystem::path LogDirectory(const std::filesystem::path& libraryFile) {
    return libraryFile.parent_path().parent_path() / "Logs";
}

std::shared_ptr<spdlog::logger> MakeLogger(const LogSettings& settings) {
    std::filesystem::create_directories(settings.directory);

    std::vector<spdlog::sink_ptr> sinks;
    if (settings.console) {
        sinks.push_back(std::make_shared<log::ConsoleSink>());
    }
    sinks.push_back(std::make_shared<log::RollingFileSink>(
        settings.directory / kLogFileName, settings.maxFileSize, settings.maxFiles));

    auto logger = std::make_shared<spdlog::logger>("morva", sinks.begin(), sinks.end());
    logger->set_level(spdlog::level::info);
    // spdlog would report a failed record on stderr; a terminal has no use for that.
    logger->set_error_handler([](const std::string&) {});
    return logger;
}

void SetUpLogging(const std::filesystem::path& libraryFile) {
    log::Install(MakeLogger(LogSettings{.directory = LogDirectory(libraryFile)}));
}

}  // namespace morva
