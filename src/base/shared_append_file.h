#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "base/unique_any.h"

namespace morva {

namespace shared_append_file_detail {
void Close(std::intptr_t file) noexcept;
}  // namespace shared_append_file_detail

// A file that this process appends to while others may read it, write it and rename or delete it
// under its feet: another copy of the library (a new version loaded beside the pinned old one)
// rolls the same log, and a log viewer reads it. Never throws.
class SharedAppendFile {
  public:
    SharedAppendFile() = default;

    // Opens or creates the file; an empty object when that fails.
    static SharedAppendFile Open(const std::filesystem::path& path) noexcept;

    explicit operator bool() const noexcept { return static_cast<bool>(file_); }

    // Appends all of `data`; false when the system took less.
    bool Append(std::string_view data) noexcept;

    void Close() noexcept { file_.reset(); }

  private:
    explicit SharedAppendFile(std::intptr_t file) noexcept : file_(file) {}

    // A descriptor, or a HANDLE as its integer; -1 for none either way.
    UniqueAny<std::intptr_t, shared_append_file_detail::Close, -1> file_;
};

}  // namespace morva
