#include <windows.h>

#include <algorithm>

#include "base/file_handle_win.h"
#include "base/morva_error.h"
#include "updates/save_file_to_disk.h"
#include "util/utf.h"

namespace morva {

const char16_t kPathSeparator = u'\\';

std::optional<FileHead> ReadFileHead(const std::u16string& path, std::size_t maxBytes) {
    const auto fail = [&path](DWORD code) {
        return MorvaError("Failed to read: %s [%lu]", Utf16ToUtf8(path),
                          static_cast<unsigned long>(code));
    };
    // Shared with every writer and deleter: the terminal may hold the library loaded.
    const UniqueFile file(::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()),
                                        GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
            code == ERROR_INVALID_NAME || code == ERROR_BAD_NETPATH) {
            return std::nullopt;
        }
        throw fail(code);
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) == FALSE) {
        throw fail(::GetLastError());
    }
    FileHead head;
    head.size = static_cast<std::uint64_t>(size.QuadPart);
    head.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(head.size, maxBytes)));
    std::size_t done = 0;
    while (done < head.bytes.size()) {
        const auto wanted = static_cast<DWORD>(
            std::min<std::size_t>(head.bytes.size() - done, std::size_t{1} << 30));
        DWORD count = 0;
        if (::ReadFile(file.get(), head.bytes.data() + done, wanted, &count, nullptr) == FALSE) {
            throw fail(::GetLastError());
        }
        if (count == 0) {
            break;  // shorter than it said a moment ago
        }
        done += count;
    }
    head.bytes.resize(done);
    return head;
}

}  // namespace morva
