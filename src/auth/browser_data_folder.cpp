#include "auth/browser_data_folder.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/log.h"
#include "base/morva_error.h"
#include "base/secure_random.h"

namespace morva {

namespace {

constexpr std::string_view kPrefix = "MORVA_Orderbook_WebView_";
constexpr std::size_t kRandomBytes = 16;
constexpr std::size_t kLongestSeconds = 20;  // digits of the largest 64-bit number
constexpr int kNameAttempts = 4;
constexpr std::chrono::milliseconds kFirstPause{50};

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A file name in printable ASCII, or empty: none of the library's names is anything else.
std::string AsciiName(const std::filesystem::path& name) {
    std::string ascii;
    for (const auto c : name.native()) {
        if (c < 0x20 || c > 0x7E) {
            return {};
        }
        ascii += static_cast<char>(c);
    }
    return ascii;
}

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}
bool IsLowerHex(char c) noexcept {
    return IsDigit(c) || (c >= 'a' && c <= 'f');
}

}  // namespace

std::string BrowserDataFolder::RandomName() {
    std::array<unsigned char, kRandomBytes> bytes{};
    FillSecureRandom(bytes.data(), bytes.size());
    constexpr std::string_view kHex = "0123456789abcdef";
    std::string name(kPrefix);
    for (const unsigned char byte : bytes) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0x0F];
    }
    return name;
}

bool BrowserDataFolder::IsOwnName(std::string_view name) noexcept {
    if (!name.starts_with(kPrefix)) {
        return false;
    }
    const std::string_view rest = name.substr(kPrefix.size());
    return (rest.size() == 2 * kRandomBytes && std::ranges::all_of(rest, IsLowerHex)) ||
           (!rest.empty() && rest.size() <= kLongestSeconds && std::ranges::all_of(rest, IsDigit));
}

void BrowserDataFolder::RemoveLeftovers(const std::filesystem::path& base) noexcept {
    try {
        // Listed first: removing while iterating may skip entries.
        std::vector<std::filesystem::path> leftovers;
        std::error_code error;
        for (std::filesystem::directory_iterator entry(base, error), end; !error && entry != end;
             entry.increment(error)) {
            if (IsOwnName(AsciiName(entry->path().filename()))) {
                leftovers.push_back(entry->path());
            }
        }
        for (const std::filesystem::path& folder : leftovers) {
            LockFile lock = TryLock(folder);
            if (!lock) {
                continue;  // in use, someone else's, or no folder at all
            }
            if (RemoveLocked(folder, lock)) {
                MORVA_LOG_DEBUG("Removed browser data folder {} of an earlier sign-in",
                                PathText(folder));
            } else {
                MORVA_LOG_WARN("Could not remove browser data folder {} of an earlier sign-in",
                               PathText(folder));
            }
        }
    } catch (const std::exception& e) {
        MORVA_LOG_WARN("Could not remove browser data of earlier sign-ins: {}", e.what());
    }
}

BrowserDataFolder BrowserDataFolder::Create(const std::filesystem::path& base,
                                            const NameSource& names) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::filesystem::path folder = base / names();
        if (LockFile lock = MakeLocked(folder)) {
            return BrowserDataFolder(std::move(folder), std::move(lock));
        }
    }
    throw MorvaError("Create browser data folder failed: %d names in %s were all taken",
                     kNameAttempts, PathText(base));
}

BrowserDataFolder BrowserDataFolder::ForSignIn() {
    const std::filesystem::path base = BaseFolder();
    RemoveLeftovers(base);
    return Create(base);
}

void BrowserDataFolder::Remove(std::chrono::milliseconds patience) noexcept {
    if (!lock_) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (auto pause = kFirstPause;; pause *= 2) {
        if (RemoveLocked(path_, lock_)) {
            lock_.reset();
            return;
        }
        // Emptied but not removed: something came back, and the lock file went with the rest.
        // Whoever holds the lock now removes the folder.
        if (!lock_ && !(lock_ = TryLock(path_))) {
            return;
        }
        if (std::chrono::steady_clock::now() + pause > deadline) {
            break;
        }
        std::this_thread::sleep_for(pause);
    }
    lock_.reset();
    try {
        MORVA_LOG_WARN("Could not remove browser data folder {}; a later sign-in removes it",
                       PathText(path_));
    } catch (const std::exception&) {
        // Nothing left to tell anyone.
    }
}

}  // namespace morva
