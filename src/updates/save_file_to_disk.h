#pragma once

#include <string>

#include "config/configuration_client.h"

namespace morva {

// What joins a folder and a name in the paths an installation writes: a backslash on Windows, a
// slash elsewhere (where a backslash is an ordinary character of a file name).
extern const char16_t kPathSeparator;

// Whether anything exists at `path`. A failed test (access denied, say) throws MorvaError
// "exists failed. <system text>".
bool FileExists(const std::u16string& path);

// Writes `bytes` to `path` in one write, creating the file or truncating it; other processes may
// share it meanwhile. Never creates a folder. Throws MorvaError "Failed to open ofstream: %s [%lu]"
// (path, system error code) when the file cannot be opened, "Error occurred while writing to: %s"
// when writing or closing fails.
void SaveFileToDisk(const FileBytes& bytes, const std::u16string& path);

}  // namespace morva
