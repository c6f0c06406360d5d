#include <windows.h>

#include <cstdint>

#include "base/last_error.h"
#include "base/log.h"
#include "base/morva_error.h"
#include "base/unique_any.h"
#include "updates/save_file_to_disk.h"
#include "util/size_conversion.h"
#include "util/utf.h"

namespace morva {

const char16_t kPathSeparator = u'\\';

namespace {

// The wide path as Windows takes it, so that any user name or folder name works.
const wchar_t* WidePath(const std::u16string& path) noexcept {
    return reinterpret_cast<const wchar_t*>(path.c_str());
}

// Tells whether CloseHandle succeeded: a written file can still fail at its close.
bool CloseFile(HANDLE file) noexcept {
    return ::CloseHandle(file) != FALSE;
}
using UniqueFile = UniqueAny<HANDLE, CloseFile, -1>;  // -1: INVALID_HANDLE_VALUE

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
    UniqueFile file(::CreateFileW(WidePath(path), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
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
