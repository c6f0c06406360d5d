#include "updates/updates_service.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "base/log.h"
#include "base/morva_error.h"
#include "config/http_configuration_client.h"
#include "updates/pe_image_check.h"
#include "updates/save_file_to_disk.h"
#include "updates/version_number.h"
#include "util/no_destructor.h"
#include "util/utf.h"

namespace morva {

namespace {

// Checks run on background threads, which may still be at work while the process exits and
// static destructors run.
const std::string& CurrentVersion() {
    static NoDestructor<const std::string> version(kCurrentVersion);
    return *version;
}

// DllFileName has refused every other platform code before these are asked.
std::u16string_view PlatformFolder(const std::u16string& platform) {
    return platform == u"mt4" ? u"MQL4" : u"MQL5";
}
std::uint16_t PlatformMachine(const std::u16string& platform) {
    return platform == u"mt4" ? kMachineI386 : kMachineAmd64;
}

// The headers of any real library lie well within this; its sections are checked against the
// file's size.
constexpr std::size_t kLibraryHeadBytes = 64 * 1024;

// A proxy's sign-in page or an error page served with status 200, in place of a compiled file.
bool IsWebPage(const FileBytes& bytes) {
    const auto start = std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t c) {
        return c != ' ' && c != '\t' && c != '\r' && c != '\n';
    });
    std::string opening;
    for (auto c = start; c != bytes.end() && opening.size() < 9; ++c) {
        opening += static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    }
    return opening.starts_with("<!doctype") || opening.starts_with("<html");
}

// What the installation may write: a complete library for the platform and an indicator that is
// neither empty nor a web page. Checked before anything is written.
void CheckDownloads(const FileBytes& library, const FileBytes& indicator,
                    const std::u16string& platform) {
    if (const std::string defect =
            PeImageDefect(library, library.size(), PlatformMachine(platform));
        !defect.empty()) {
        throw MorvaError("Downloaded library is not a Windows DLL for %s: %s",
                         Utf16ToUtf8(platform), defect);
    }
    if (indicator.empty()) {
        throw MorvaError("Downloaded indicator is empty");
    }
    if (IsWebPage(indicator)) {
        throw MorvaError("Downloaded indicator is a web page");
    }
}

// Whether `path` already holds a complete library for the platform, which an earlier
// installation of this version wrote and the terminal may have loaded since: that one stays.
// Anything else there, such as what an interrupted installation of old left, is replaced.
bool HoldsLibrary(const std::u16string& path, const std::u16string& platform) {
    const std::optional<FileHead> head = ReadFileHead(path, kLibraryHeadBytes);
    if (!head) {
        return false;
    }
    const std::string defect = PeImageDefect(head->bytes, head->size, PlatformMachine(platform));
    if (!defect.empty()) {
        MORVA_LOG_INFO("Replacing {}: not a Windows DLL for {}: {}", path, platform, defect);
    }
    return defect.empty();
}

}  // namespace

void CopyVersionText(std::u16string_view text, char16_t* buffer) noexcept {
    // Plain text: cut at its first null character, as the terminal would read it.
    text = text.substr(0, std::min(text.find(u'\0'), kTerminalTextSize - 1));
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
}

UpdatesService::UpdatesService(std::shared_ptr<ConfigurationClient> configurationClient,
                               WriteProgress writeProgress)
    : configurationClient_(std::move(configurationClient)),
      writeProgress_(std::move(writeProgress)) {}

UpdatesCheckStatus UpdatesService::CheckForUpdates(char16_t* version, bool* force) {
    try {
        const std::u16string published = configurationClient_->GetVersion();
        const std::u16string minimum = configurationClient_->GetMinVersion();
        CopyVersionText(published, version);

        const std::string publishedText = Utf16ToUtf8(published);
        if (CompareVersions(CurrentVersion(), publishedText) >= 0) {
            MORVA_LOG_INFO("No updates found [current version: {}]", CurrentVersion());
            return UpdatesCheckStatus::NoUpdates;
        }
        const std::string minimumText = Utf16ToUtf8(minimum);
        *force = CompareVersions(CurrentVersion(), minimumText) < 0;
        MORVA_LOG_INFO(
            "New version found [current version: {}; new version: {}; minVersion: {}; "
            "forceUpdate: {}]",
            CurrentVersion(), publishedText, minimumText, *force);
        return UpdatesCheckStatus::UpdateAvailable;
    } catch (const std::exception& e) {
        MORVA_LOG_ERROR("Failed to check for updates: {}", e.what());
        return UpdatesCheckStatus::Error;
    }
}

UpdateStatus UpdatesService::Update(const std::u16string& dataFolder,
                                    const std::u16string& indicatorPath,
                                    const std::u16string& platform,
                                    const std::u16string& language) {
    try {
        const std::u16string version = configurationClient_->GetVersion();
        // The version comes from a remote document and becomes part of a file name: anything
        // but a release number could lead the file elsewhere.
        if (!IsPlainVersion(version)) {
            throw MorvaError("Published version is not a release number [%s]",
                             Utf16ToUtf8(version));
        }
        // Named first, so that an unknown platform code is refused before anything is downloaded.
        const std::u16string libraryName = DllFileName(platform, version);
        const FileBytes library = configurationClient_->DownloadDll(platform);
        const FileBytes indicator = configurationClient_->DownloadIndicator(platform, language);
        CheckDownloads(library, indicator, platform);

        std::u16string libraryPath = dataFolder;
        libraryPath += kPathSeparator;
        libraryPath += PlatformFolder(platform);
        libraryPath += kPathSeparator;
        libraryPath += u"Libraries";
        libraryPath += kPathSeparator;
        libraryPath += libraryName;
        if (!HoldsLibrary(libraryPath, platform)) {
            SaveFileToDisk(library, libraryPath, writeProgress_);
        }
        SaveFileToDisk(indicator, indicatorPath, writeProgress_);
        return UpdateStatus::Updated;
    } catch (const std::exception& e) {
        MORVA_LOG_ERROR("Failed to update indicator: {}", e.what());
        return UpdateStatus::Error;
    }
}

}  // namespace morva
