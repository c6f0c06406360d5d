#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "base/unique_any.h"

namespace morva {

namespace browser_data_folder_detail {
// Closes a folder's lock file: a descriptor (POSIX) or a HANDLE (Windows), held as an integer.
void CloseLock(std::intptr_t lock) noexcept;
}  // namespace browser_data_folder_detail

// The sign-in browser's profile (the sign-in site's cookies, caches) for one sign-in: a folder of
// its own under a name nobody can guess, never one that existed before, owner-only on Linux. A
// lock file inside is held for the folder's life, so that another process's cleanup (two terminals
// may sign in at once) leaves it alone. The library stays loaded until its process ends, so
// nothing but the sign-in itself would ever remove it.
class BrowserDataFolder {
  public:
    // Each call gives a name to try for a new folder.
    using NameSource = std::function<std::string()>;

    static constexpr std::chrono::milliseconds kRemovalPatience{2000};

    // "MORVA_Orderbook_WebView_" and 32 hex digits from the system's cryptographic generator.
    // Throws MorvaError.
    static std::string RandomName();
    // Whether the library names its folders so: RandomName's form, or an earlier version's
    // "MORVA_Orderbook_WebView_" and decimal seconds.
    static bool IsOwnName(std::string_view name) noexcept;
    // Linux: $XDG_RUNTIME_DIR when it is an absolute path to a directory, else the temporary
    // directory. Windows: the temporary directory. Throws MorvaError when there is none.
    static std::filesystem::path BaseFolder();
    // Removes what earlier sign-ins left in `base`: folders with one of the library's own names
    // whose lock is free (on Linux only the current user's). A link is never followed, nor is it
    // removed when it stands in for such a folder. What cannot go now stays for the next time.
    static void RemoveLeftovers(const std::filesystem::path& base) noexcept;
    // A new, locked folder in `base` under the first of a few names from `names` that nobody has
    // taken. Throws MorvaError.
    static BrowserDataFolder Create(const std::filesystem::path& base,
                                    const NameSource& names = RandomName);
    // What a sign-in starts with: leftovers removed from BaseFolder(), then a new folder there.
    static BrowserDataFolder ForSignIn();

    BrowserDataFolder(BrowserDataFolder&& other) noexcept = default;
    BrowserDataFolder& operator=(BrowserDataFolder&& other) = delete;
    ~BrowserDataFolder() { Remove(); }

    const std::filesystem::path& path() const noexcept { return path_; }

    // Removes the folder with everything in it and lets go of its lock. A browser may hold files
    // for a moment after it closed, so failures are retried on the calling thread for up to
    // `patience`; after that a warning is logged and the folder is left, unlocked, for a later
    // cleanup. Never throws.
    void Remove(std::chrono::milliseconds patience = kRemovalPatience) noexcept;

  private:
    using LockFile = UniqueAny<std::intptr_t, browser_data_folder_detail::CloseLock, -1>;

    BrowserDataFolder(std::filesystem::path path, LockFile lock) noexcept
        : path_(std::move(path)), lock_(std::move(lock)) {}

    // Platform parts.
    // The folder made (owner-only) and locked; no lock when the name is taken. Throws MorvaError.
    static LockFile MakeLocked(const std::filesystem::path& folder);
    // The lock of a real directory (no link) of the current user's that nobody holds; else none.
    static LockFile TryLock(const std::filesystem::path& folder) noexcept;
    // Removes everything in the locked folder without following links, then its lock file and
    // the folder. False when something stayed; the lock is then gone too if only the folder
    // itself stayed.
    static bool RemoveLocked(const std::filesystem::path& folder, LockFile& lock) noexcept;

    std::filesystem::path path_;
    LockFile lock_;
};

}  // namespace morva
