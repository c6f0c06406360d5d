#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_descriptor_posix.h"
#include "base/morva_error.h"
#include "updates/replacement_file.h"
#include "util/utf.h"

namespace morva {

namespace {

// A name taken by another writer is tried again under a new one; more collisions than this mean
// something other than chance.
constexpr int kNameAttempts = 8;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

struct ReplacementFile::Native {
    UniqueFd file;
    std::string path;  // empty once there is nothing left to remove
};

ReplacementFile::ReplacementFile(std::u16string target)
    : target_(std::move(target)), native_(std::make_unique<Native>()) {
    for (int attempt = 1;; ++attempt) {
        std::string path = Utf16ToUtf8(replacement_file_detail::TemporaryName(target_));
        native_->file.reset(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (native_->file) {
            native_->path = std::move(path);
            return;
        }
        const int code = errno;
        if (code != EEXIST || attempt == kNameAttempts) {
            throw MorvaError("Failed to open ofstream: %s [%lu]", Utf16ToUtf8(target_),
                             static_cast<unsigned long>(code));
        }
    }
}

ReplacementFile::~ReplacementFile() {
    native_->file.reset();
    if (!native_->path.empty()) {
        ::unlink(native_->path.c_str());
    }
}

void ReplacementFile::Write(std::span<const std::uint8_t> bytes) {
    if (!WriteAll(native_->file.get(), std::as_bytes(bytes))) {
        Fail(static_cast<unsigned long>(errno));
    }
}

void ReplacementFile::Commit() {
    if (::fsync(native_->file.get()) != 0 || native_->file.Close() != 0) {
        Fail(static_cast<unsigned long>(errno));
    }
    const std::string target = Utf16ToUtf8(target_);
    if (::rename(native_->path.c_str(), target.c_str()) != 0) {
        Fail(static_cast<unsigned long>(errno));
    }
    native_->path.clear();
    // The rename lasts once the folder is on disk too. Either way the target is whole, old or
    // new, so a folder that cannot be flushed fails nothing.
    const UniqueFd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder) {
        ::fsync(folder.get());
    }
}

}  // namespace morva
