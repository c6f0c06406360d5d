#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_descriptor_posix.h"
#include "base/morva_error.h"
#include "updates/save_file_to_disk.h"
#include "util/utf.h"

namespace morva {

const char16_t kPathSeparator = u'/';

std::optional<FileHead> ReadFileHead(const std::u16string& path, std::size_t maxBytes) {
    const std::string name = Utf16ToUtf8(path);
    const auto fail = [&name](int code) {
        return MorvaError("Failed to read: %s [%lu]", name, static_cast<unsigned long>(code));
    };
    const UniqueFd file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        throw fail(errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throw fail(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        throw fail(EISDIR);
    }
    FileHead head;
    head.size = static_cast<std::uint64_t>(status.st_size);
    head.bytes.resize(std::min<std::uint64_t>(head.size, maxBytes));
    std::size_t done = 0;
    while (done < head.bytes.size()) {
        const ssize_t count =
            ::read(file.get(), head.bytes.data() + done, head.bytes.size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throw fail(errno);
        }
        if (count == 0) {
            break;  // shorter than it said a moment ago
        }
        done += static_cast<std::size_t>(count);
    }
    head.bytes.resize(done);
    return head;
}

}  // namespace morva
