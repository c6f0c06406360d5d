#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "host/log.h"
#include "host/morva_error.h"
#include "updates/save_file_to_disk.h"
#include "util/last_error.h"
#include "util/utf.h"

namespace morva {

const char16_t kPathSeparator = u'/';

namespace {

// Owns one open descriptor; Close reports what close(2) says.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return fd_; }
    bool Close() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

// All of `bytes`, however many writes the kernel takes for it.
bool WriteAll(int fd, const FileBytes& bytes) noexcept {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace

bool FileExists(const std::u16string& path) {
    const std::string name = Utf16ToUtf8(path);
    struct stat status {};
    if (::stat(name.c_str(), &status) == 0) {
        return true;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return false;
    }
    ThrowLastError("exists");
}

void SaveFileToDisk(const FileBytes& bytes, const std::u16string& path) {
    const std::string name = Utf16ToUtf8(path);
    FileDescriptor file(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.get() < 0) {
        const int code = errno;
        throw MorvaError("Failed to open ofstream: %s [%lu]", name,
                         static_cast<unsigned long>(code));
    }
    const bool written = WriteAll(file.get(), bytes);
    if (!file.Close() || !written) {
        throw MorvaError("Error occurred while writing to: %s", name);
    }
    MORVA_LOG_INFO("{} saved successfully", name);
}

}  // namespace morva
