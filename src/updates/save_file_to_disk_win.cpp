#include <windows.h>

#include <cstdint>

#include "host/log.h"
#include "host/morva_error.h"
#include "updates/save_file_to_disk.h"
#include "util/last_error.h"
#include "util/size_conversion.h"
#include "util/utf.h"

namespace morva {

const char16_t kPathSeparator = u'\\';

namespace {

// The wide path as Windows takes it, so that any user name or folder name works.
const wchar_t* WidePath(const std::u16string& path) noexcept {
    return reinterpret_cast<const wchar_t*>(path.c_str());
}

// Owns one open file handle; Close reports what CloseHandle says.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) noexcept : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE get() const noexcept { return handle_; }
    bool Close() noexcept {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(handle) != FALSE;
    }

  private:
    HANDLE handle_;
};

bool WriteAll(HANDLE file, const FileBytes& bytes) noexcept {
    std::uint32_t size = 0;
    if (SizeTToDWord(bytes.size(), size) != 0) {
        return false;
    }
    if (size == 0) {
        return true;
    }
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), size, &written, nullptr) != FALSE && written == size;
}

}  // namespace

bool FileExists(const std::u16string& path) {
    if (::GetFileAttributesW(WidePath(path)) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
        code == ERROR_INVALID_NAME || code == ERROR_BAD_NETPATH) {
        return false;
    }
    ThrowLastError("exists");
}

void SaveFileToDisk(const FileBytes& bytes, const std::u16string& path) {
    // CREATE_ALWAYS truncates an existing file; full sharing as the C runtime's streams allow.
    FileHandle file(::CreateFileW(WidePath(path), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        throw MorvaError("Failed to open ofstream: %s [%lu]", Utf16ToUtf8(path),
                         static_cast<unsigned long>(code));
    }
    const bool written = WriteAll(file.get(), bytes);
    if (!file.Close() || !written) {
        throw MorvaError("Error occurred while writing to: %s", Utf16ToUtf8(path));
    }
    MORVA_LOG_INFO("{} saved successfully", path);
}

}  // namespace morva
