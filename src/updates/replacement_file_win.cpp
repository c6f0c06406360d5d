#include <windows.h>

#include "base/file_handle_win.h"
#include "base/morva_error.h"
#include "updates/replacement_file.h"
#include "util/utf.h"

namespace morva {

namespace {

// A name taken by another writer is tried again under a new one; more collisions than this mean
// something other than chance.
constexpr int kNameAttempts = 8;
constexpr int kRenameAttempts = 40;
constexpr DWORD kRenamePauseMs = 50;

// The wide path as Windows takes it, so that any user name or folder name works.
const wchar_t* WidePath(const std::u16string& path) noexcept {
    return reinterpret_cast<const wchar_t*>(path.c_str());
}

}  // namespace

struct ReplacementFile::Native {
    UniqueFile file;
    std::u16string path;  // empty once there is nothing left to remove
};

ReplacementFile::ReplacementFile(std::u16string target)
    : target_(std::move(target)), native_(std::make_unique<Native>()) {
    for (int attempt = 1;; ++attempt) {
        std::u16string path = replacement_file_detail::TemporaryName(target_);
        // Shared with nobody: no reader sees it before it is complete.
        native_->file.reset(::CreateFileW(WidePath(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (native_->file) {
            native_->path = std::move(path);
            return;
        }
        const DWORD code = ::GetLastError();
        if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) ||
            attempt == kNameAttempts) {
            throw MorvaError("Failed to open ofstream: %s [%lu]", Utf16ToUtf8(target_),
                             static_cast<unsigned long>(code));
        }
    }
}

ReplacementFile::~ReplacementFile() {
    native_->file.reset();
    if (!native_->path.empty()) {
        ::DeleteFileW(WidePath(native_->path));
    }
}

void ReplacementFile::Write(std::span<const std::uint8_t> bytes) {
    if (!WriteAll(native_->file.get(), std::as_bytes(bytes))) {
        Fail(::GetLastError());
    }
}

void ReplacementFile::Commit() {
    if (::FlushFileBuffers(native_->file.get()) == FALSE || !native_->file.Close()) {
        Fail(::GetLastError());
    }
    // Write-through: the call returns once the rename is on disk. A target someone has open (a
    // second installation checking the same library) cannot be replaced until they let go: the
    // rename is tried again for a moment on this background thread.
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(WidePath(native_->path), WidePath(target_),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE) {
            break;
        }
        const DWORD code = ::GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) ||
            attempt == kRenameAttempts) {
            Fail(code);
        }
        ::Sleep(kRenamePauseMs);
    }
    native_->path.clear();
}

}  // namespace morva
