#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <string>
#include <system_error>
#include <vector>

#include "auth/browser_data_folder.h"
#include "base/file_descriptor_posix.h"
#include "base/last_error.h"
#include "base/morva_error.h"

namespace morva {

namespace {

constexpr const char* kLockName = "morva.lock";
// O_NOFOLLOW: a link in a folder's place is never entered.
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

using UniqueDir = UniqueAny<DIR*, closedir>;

// The lock file in an open folder, made if missing, locked; none while someone else holds it.
// flock belongs to the open file, so a second open in this same process is refused as well.
UniqueFd LockIn(int folder) noexcept {
    UniqueFd lock(openat(folder, kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock || flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        return {};
    }
    return lock;
}

bool ListNames(int folder, std::vector<std::string>& names) {
    UniqueFd copy(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!copy) {
        return false;
    }
    const UniqueDir listing(fdopendir(copy.get()));
    if (!listing) {
        return false;
    }
    copy.release();  // the listing owns it now
    errno = 0;
    while (const dirent* entry = readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    return errno == 0;
}

// Everything in an open folder but `keep`. Links are removed themselves, by their own status.
bool RemoveContents(int folder, const char* keep) {
    std::vector<std::string> names;
    if (!ListNames(folder, names)) {
        return false;
    }
    bool removed = true;
    for (const std::string& name : names) {
        if (keep != nullptr && name == keep) {
            continue;
        }
        struct stat status {};
        if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            removed = removed && errno == ENOENT;
            continue;
        }
        int flags = 0;
        if (S_ISDIR(status.st_mode)) {
            const UniqueFd child(openat(folder, name.c_str(), kFolderFlags));
            if (!child || !RemoveContents(child.get(), nullptr)) {
                removed = false;
                continue;
            }
            flags = AT_REMOVEDIR;
        }
        if (unlinkat(folder, name.c_str(), flags) != 0 && errno != ENOENT) {
            removed = false;
        }
    }
    return removed;
}

}  // namespace

void browser_data_folder_detail::CloseLock(std::intptr_t lock) noexcept {
    ::close(static_cast<int>(lock));
}

std::filesystem::path BrowserDataFolder::BaseFolder() {
    // The session's own folder: private to the user and emptied when the session ends.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat status {};
    if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &status) == 0 &&
        S_ISDIR(status.st_mode)) {
        return runtime;
    }
    std::error_code error;
    std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) {
        throw MorvaError("No folder for the browser's data: %s", error.message());
    }
    return temporary;
}

BrowserDataFolder::LockFile BrowserDataFolder::MakeLocked(const std::filesystem::path& folder) {
    if (mkdir(folder.c_str(), 0700) != 0) {
        if (errno == EEXIST) {
            return {};
        }
        const std::string why = LastErrorText();
        throw MorvaError("Create browser data folder %s failed. %s", folder.string(), why);
    }
    const UniqueFd opened(open(folder.c_str(), kFolderFlags));
    if (!opened && errno == ENOENT) {
        return {};  // another process's cleanup was faster
    }
    // The umask may have taken more than the group's and others' bits.
    if (!opened || fchmod(opened.get(), 0700) != 0) {
        const std::string why = LastErrorText();
        throw MorvaError("Open browser data folder %s failed. %s", folder.string(), why);
    }
    // None when another process's cleanup took the lock first: it removes the folder.
    return LockFile(LockIn(opened.get()).release());
}

BrowserDataFolder::LockFile BrowserDataFolder::TryLock(
    const std::filesystem::path& folder) noexcept {
    const UniqueFd opened(open(folder.c_str(), kFolderFlags));
    struct stat status {};
    if (!opened || fstat(opened.get(), &status) != 0 || status.st_uid != geteuid()) {
        return {};
    }
    return LockFile(LockIn(opened.get()).release());
}

bool BrowserDataFolder::RemoveLocked(const std::filesystem::path& folder, LockFile& lock) noexcept {
    try {
        const UniqueFd opened(open(folder.c_str(), kFolderFlags));
        if (!opened) {
            return errno == ENOENT;
        }
        if (!RemoveContents(opened.get(), kLockName)) {
            return false;
        }
        // The lock file goes last, while still held: as long as it exists, whoever opens it
        // finds it locked, and nobody can make a new one here.
        unlinkat(opened.get(), kLockName, 0);
        lock.reset();
        return rmdir(folder.c_str()) == 0 || errno == ENOENT;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace morva
