// A private JSON file standing in for Credential Manager: {"<target>": {"userName", "secret"}}.
// Every write goes to a temporary file that is renamed over the old one, so a crash leaves either
// the old file or the new one, never half of either.
#include "auth/file_credential_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "auth/credential_store.h"
#include "base/file_descriptor_posix.h"
#include "base/last_error.h"
#include "base/log.h"
#include "base/morva_error.h"
#include "util/utf.h"

namespace morva {

namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kWriteOperation = "Write credentials to Credential Manager";
constexpr const char* kReadFailure = "Failed to read credentials from Credential Manager";

// The whole file, or nothing when it does not exist. Throws MorvaError from `operation` for any
// other failure.
std::optional<std::string> ReadWholeFile(const fs::path& path, const char* operation) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        ThrowLastError(operation);
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowLastError(operation);
        }
        if (count == 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(count));
    }
}

// Parses the store; anything but an object of entries is unreadable. Throws the JSON library's
// error or std::runtime_error.
Json ParseStore(const std::string& content) {
    Json store = Json::parse(content);
    if (!store.is_object()) {
        throw std::runtime_error("the store is not a JSON object");
    }
    return store;
}

// The JSON library quotes the text around a syntax error, which may be a secret: name the error
// by its number only.
std::string DescribeStoreError(const std::exception& error) {
    if (const auto* json = dynamic_cast<const Json::exception*>(&error)) {
        return "invalid JSON (error " + std::to_string(json->id) + ")";
    }
    return error.what();
}

// The store's own folder is the user's alone; its parents are ordinary folders. The process-wide
// umask is left alone: other threads of the terminal create files too.
void CreatePrivateFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder.parent_path(), error);
    if (error) {
        throw MorvaError("%s failed. %s[%d]", kWriteOperation, error.message(), error.value());
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        ThrowLastError(kWriteOperation);
    }
}

}  // namespace

namespace file_store_detail {

fs::path CredentialsFilePath() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    fs::path base;
    if (dataHome != nullptr && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            const passwd* user = ::getpwuid(::getuid());
            home = user != nullptr ? user->pw_dir : nullptr;
        }
        if (home == nullptr || home[0] != '/') {
            throw MorvaError("Could not determine the folder for stored credentials");
        }
        base = fs::path(home) / ".local" / "share";
    }
    return base / "morva" / "credentials.json";
}

}  // namespace file_store_detail

void WriteCredentials(const std::u16string& target, const Credentials& credentials) {
    const fs::path path = file_store_detail::CredentialsFilePath();
    const fs::path folder = path.parent_path();
    CreatePrivateFolder(folder);

    // Terminals of the same user write in turn; readers need no lock thanks to the rename.
    const fs::path lockPath = fs::path(path).concat(".lock");
    const UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock) {
        ThrowLastError(kWriteOperation);
    }
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            ThrowLastError(kWriteOperation);
        }
    }

    Json store = Json::object();
    if (const auto content = ReadWholeFile(path, kWriteOperation)) {
        try {
            store = ParseStore(*content);
        } catch (const std::exception& e) {
            // Other entries live in it: never replace what we cannot read.
            throw MorvaError("%s failed. Stored credentials are unreadable: %s", kWriteOperation,
                             DescribeStoreError(e));
        }
    }
    store[Utf16ToUtf8(target)] = {{"userName", Utf16ToUtf8(credentials.userName)},
                                  {"secret", Utf16ToUtf8(credentials.secret)}};
    const std::string text = store.dump(2, ' ', false, Json::error_handler_t::replace);

    const fs::path temporary = fs::path(path).concat(".tmp");
    UniqueFd file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file) {
        ThrowLastError(kWriteOperation);
    }
    if (::fchmod(file.get(), 0600) != 0) {  // a leftover from a crash may carry other bits
        ThrowLastError(kWriteOperation);
    }
    if (!WriteAll(file.get(), std::as_bytes(std::span(text)))) {
        ThrowLastError(kWriteOperation);
    }
    if (::fsync(file.get()) != 0 || file.Close() != 0) {
        ThrowLastError(kWriteOperation);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ThrowLastError(kWriteOperation);
    }
    // Make the rename itself durable; a failure here loses nothing already written.
    const UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory) {
        ::fsync(directory.get());
    }
}

std::optional<Credentials> ReadCredentials(const std::u16string& target) {
    const fs::path path = file_store_detail::CredentialsFilePath();
    try {
        const auto content = ReadWholeFile(path, "Read credentials");
        if (!content) {
            return std::nullopt;
        }
        const Json store = ParseStore(*content);
        const auto entry = store.find(Utf16ToUtf8(target));
        if (entry == store.end()) {
            return std::nullopt;
        }
        Credentials credentials;
        credentials.userName = Utf8ToUtf16(entry->value("userName", std::string()));
        credentials.secret = Utf8ToUtf16(entry->at("secret").get<std::string>());
        return credentials;
    } catch (const std::exception& e) {
        MORVA_LOG_DEBUG("{}: {}", path.string(), DescribeStoreError(e));
        throw MorvaError(kReadFailure);
    }
}

}  // namespace morva
