#pragma once

#include <spdlog/logger.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace morva {

inline constexpr char kLogFileName[] = "MORVA_Orderbook.log";
inline constexpr std::uintmax_t kLogMaxFileSize = 1'048'576;
inline constexpr std::size_t kLogMaxFiles = 10;

struct LogSettings {
    std::filesystem::path directory;  // created with its missing parents
    std::uintmax_t maxFileSize = kLogMaxFileSize;
    std::size_t maxFiles = kLogMaxFiles;
    bool console = true;  // a console sink before the file sink
};

// "Logs" beside the folder that holds the library: <library>/../../Logs.
std::filesystem::path LogDirectory(const std::filesystem::path& libraryFile);

// A logger at threshold INFO writing kLogFileName in the settings' directory. Throws
// std::filesystem::filesystem_error when the directory cannot be created.
std::shared_ptr<spdlog::logger> MakeLogger(const LogSettings& settings);

// Installs the process's logger for the library at `libraryFile`, with the production settings.
// Throws what MakeLogger throws; the library then runs without a log.
void SetUpLogging(const std::filesystem::path& libraryFile);

}  // namespace morva
