#include <windows.h>

#include <exception>
#include <string>
#include <system_error>
#include <vector>

#include "auth/browser_data_folder.h"
#include "base/last_error.h"
#include "base/morva_error.h"
#include "util/utf.h"

namespace morva {

namespace {

constexpr const wchar_t* kLockName = L"morva.lock";

using UniqueHandle = UniqueAny<HANDLE, CloseHandle, -1>;  // -1: INVALID_HANDLE_VALUE
using UniqueFind = UniqueAny<HANDLE, FindClose, -1>;

// The browser's profile nests deep enough to pass MAX_PATH under a long user folder; this form
// has no such limit, nor does it resolve "." and ".." or take "/" for a separator.
std::wstring LongPath(const std::filesystem::path& path) {
    const std::wstring text = path.lexically_normal().native();
    if (!path.is_absolute() || text.starts_with(L"\\\\?\\")) {
        return text;
    }
    if (text.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + text.substr(2);
    }
    return L"\\\\?\\" + text;
}

bool IsGone(DWORD error) noexcept {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The lock file in a folder, made if missing. Unshared, so every other open of it fails while
// this handle lives; deleted when closed, so that a process that dies leaves its folder unlocked.
UniqueHandle LockIn(const std::wstring& folder) {
    return UniqueHandle(CreateFileW((folder + L"\\" + kLockName).c_str(),
                                    GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

// A handle on a directory that is no junction or link. Opened without FILE_SHARE_DELETE, so that
// nothing can move it aside and put a link in its place while the handle lives.
UniqueHandle OpenRealFolder(const std::wstring& path) noexcept {
    UniqueHandle folder(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!folder || !GetFileInformationByHandle(folder.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return {};
    }
    return folder;
}

struct Entry {
    std::wstring name;
    DWORD attributes;
};

bool ListEntries(const std::wstring& folder, std::vector<Entry>& entries) {
    WIN32_FIND_DATAW data{};
    const UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0));
    if (!find) {
        return false;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            entries.push_back({name, data.dwFileAttributes});
        }
    } while (FindNextFileW(find.get(), &data));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool RemoveContents(const std::wstring& folder, const wchar_t* keep);

// A real directory emptied but for `keep`, never entered through a junction (std::filesystem
// does not tell junctions from directories everywhere).
bool EmptyFolder(const std::wstring& path, const wchar_t* keep) {
    const UniqueHandle held = OpenRealFolder(path);
    return held && RemoveContents(path, keep);
}

// Everything in a folder but `keep`. A junction or link is removed itself, its target never
// touched: only what the folder's own listing says is a plain directory is entered.
bool RemoveContents(const std::wstring& folder, const wchar_t* keep) {
    std::vector<Entry> entries;
    if (!ListEntries(folder, entries)) {
        return false;
    }
    bool removed = true;
    for (const Entry& entry : entries) {
        if (keep != nullptr && entry.name == keep) {
            continue;
        }
        const std::wstring path = folder + L"\\" + entry.name;
        const bool link = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (directory && !link && !EmptyFolder(path, nullptr)) {
            removed = false;
            continue;
        }
        // Setting attributes through a link would set its target's.
        if (!link && (entry.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            SetFileAttributesW(path.c_str(), entry.attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        const BOOL gone = directory ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
        if (!gone && !IsGone(GetLastError())) {
            removed = false;
        }
    }
    return removed;
}

std::intptr_t Released(UniqueHandle lock) noexcept {
    return reinterpret_cast<std::intptr_t>(lock.release());
}

}  // namespace

void browser_data_folder_detail::CloseLock(std::intptr_t lock) noexcept {
    CloseHandle(reinterpret_cast<HANDLE>(lock));
}

std::filesystem::path BrowserDataFolder::BaseFolder() {
    std::error_code error;
    std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) {
        throw MorvaError("No folder for the browser's data: %s", error.message());
    }
    return temporary;
}

BrowserDataFolder::LockFile BrowserDataFolder::MakeLocked(const std::filesystem::path& folder) {
    const std::wstring path = LongPath(folder);
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            return {};
        }
        const std::string why = LastErrorText();
        throw MorvaError("Create browser data folder %s failed. %s",
                         Utf16ToUtf8(folder.u16string()), why);
    }
    // None when another process's cleanup took the lock first: it removes the folder.
    return LockFile(Released(LockIn(path)));
}

BrowserDataFolder::LockFile BrowserDataFolder::TryLock(
    const std::filesystem::path& folder) noexcept {
    try {
        const std::wstring path = LongPath(folder);
        const UniqueHandle held = OpenRealFolder(path);
        return held ? LockFile(Released(LockIn(path))) : LockFile();
    } catch (const std::exception&) {
        return {};
    }
}

bool BrowserDataFolder::RemoveLocked(const std::filesystem::path& folder, LockFile& lock) noexcept {
    try {
        const std::wstring path = LongPath(folder);
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && IsGone(GetLastError())) {
            return true;
        }
        if (!EmptyFolder(path, kLockName)) {
            return false;
        }
        // Closing the lock deletes it. Until then whoever opens it is refused, and nobody can
        // make a new one here.
        lock.reset();
        return RemoveDirectoryW(path.c_str()) || IsGone(GetLastError());
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace morva
