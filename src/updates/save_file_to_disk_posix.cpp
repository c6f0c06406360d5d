#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <span>

#include "base/file_descriptor_posix.h"
#include "base/last_error.h"
#include "base/log.h"
#include "base/morva_error.h"
#include "updates/save_file_to_disk.h"
#include "util/utf.h"

namespace morva {

const char16_t kPathSeparator = u'/';

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
    UniqueFd file(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file) {
        const int code = errno;
        throw MorvaError("Failed to open ofstream: %s [%lu]", name,
                         static_cast<unsigned long>(code));
    }
    const bool written = WriteAll(file.get(), std::as_bytes(std::span(bytes)));
    if (file.Close() != 0 || !written) {
        throw MorvaError("Error occurred while writing to: %s", name);
    }
    MORVA_LOG_INFO("{} saved successfully", name);
}

}  // namespace morva
