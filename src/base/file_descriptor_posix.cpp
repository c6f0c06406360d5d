#include "base/file_descriptor_posix.h"

#include <unistd.h>

#include <cerrno>

namespace morva {

int file_descriptor_detail::Close(int fd) noexcept {
    return ::close(fd);
}

bool WriteAll(int fd, std::span<const std::byte> data) noexcept {
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        data = data.subspan(static_cast<std::size_t>(count));
    }
    return true;
}

}  // namespace morva
