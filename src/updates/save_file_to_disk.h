#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "config/configuration_client.h"

namespace morva {

// What joins a folder and a name in the paths an installation writes: a backslash on Windows, a
// slash elsewhere (where a backslash is an ordinary character of a file name).
extern const char16_t kPathSeparator;

// The start of a file and its full size: enough to tell a complete library from anything else
// without reading megabytes.
struct FileHead {
    FileBytes bytes;  // at most the bytes asked for
    std::uint64_t size = 0;
};

// The first `maxBytes` bytes of the file at `path`, or nothing when no file is there. Any other
// failure (access denied, a folder of that name) throws MorvaError "Failed to read: %s [%lu]"
// (path, system error code).
std::optional<FileHead> ReadFileHead(const std::u16string& path, std::size_t maxBytes);

// Hears of every piece of a file written, with the file's path and the bytes written so far;
// whatever it throws fails that write there. Tests fail writes halfway through it.
using WriteProgress = std::function<void(const std::u16string& path, std::size_t written)>;

// Puts `bytes` at `path` completely or not at all (see ReplacementFile): the file at `path` is
// either left as it was or replaced by all of `bytes`, and nothing else remains. Never creates a
// folder. Throws MorvaError "Failed to open ofstream: %s [%lu]" when the new file cannot be
// created, "Error occurred while writing to: %s [%lu]" when writing, flushing or replacing fails
// (path, system error code).
void SaveFileToDisk(const FileBytes& bytes, const std::u16string& path,
                    const WriteProgress& progress = {});

}  // namespace morva
