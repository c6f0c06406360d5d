#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <span>

#include "base/file_descriptor_posix.h"
#include "base/shared_append_file.h"

namespace morva {

void shared_append_file_detail::Close(std::intptr_t file) noexcept {
    close(static_cast<int>(file));
}

SharedAppendFile SharedAppendFile::Open(const std::filesystem::path& path) noexcept {
    const int file = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    return SharedAppendFile(file);
}

bool SharedAppendFile::Append(std::string_view data) noexcept {
    return WriteAll(static_cast<int>(file_.get()),
                    std::as_bytes(std::span(data.data(), data.size())));
}

}  // namespace morva
