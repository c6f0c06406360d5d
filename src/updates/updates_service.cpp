#include "updates/updates_service.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "base/log.h"
#include "base/morva_error.h"
#include "config/http_configuration_client.h"
#include "updates/save_file_to_disk.h"
#include "updates/version_number.h"
#include "util/utf.h"

namespace morva {

namespace {

const std::string& CurrentVersion() {
    static const std::string version(kCurrentVersion);
    return version;
}

std::u16string_view PlatformFolder(const std::u16string& platform) {
    // DllFileName has refused every other platform code before this is asked.
    return platform == u"mt4" ? u"MQL4" : u"MQL5";
}

}  // namespace

void CopyVersionText(std::u16string_view text, char16_t* buffer) noexcept {
    // Plain text: cut at its first null character, as the terminal would read it.
    text = text.substr(0, std::min(text.find(u'\0'), kTerminalTextSize - 1));
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
}

UpdatesService::UpdatesService(std::shared_ptr<ConfigurationClient> configurationClient)
    : configurationClient_(std::move(configurationClient)) {}

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

        std::u16string libraryPath = dataFolder;
        libraryPath += kPathSeparator;
        libraryPath += PlatformFolder(platform);
        libraryPath += kPathSeparator;
        libraryPath += u"Libraries";
        libraryPath += kPathSeparator;
        libraryPath += libraryName;
        // An earlier installation of this version may have written it: keep that file.
        if (!FileExists(libraryPath)) {
            SaveFileToDisk(library, libraryPath);
        }
        SaveFileToDisk(indicator, indicatorPath);
        return UpdateStatus::Updated;
    } catch (const std::exception& e) {
        MORVA_LOG_ERROR("Failed to update indicator: {}", e.what());
        return UpdateStatus::Error;
    }
}

}  // namespace morva
