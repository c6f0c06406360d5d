#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "config/configuration_client.h"
#include "updates/i_updates_service.h"
#include "updates/save_file_to_disk.h"

namespace morva {

// The library's own version, which every check compares with the published one.
inline constexpr std::string_view kCurrentVersion = MORVA_VERSION;

// Copies `text` into a buffer of kTerminalTextSize characters, cut at 179 and terminated.
void CopyVersionText(std::u16string_view text, char16_t* buffer) noexcept;

// Compares the library's version with the published one and installs the published files. Holds
// no state of its own besides the shared configuration client, so any thread may call it.
class UpdatesService : public IUpdatesService {
  public:
    // writeProgress hears of every piece written (see SaveFileToDisk).
    explicit UpdatesService(std::shared_ptr<ConfigurationClient> configurationClient,
                            WriteProgress writeProgress = {});

    // Never throws a standard exception: a failure is logged and gives Error. A failure after the
    // published version was read leaves that version in the buffer.
    UpdatesCheckStatus CheckForUpdates(char16_t* version, bool* force) override;

    // Downloads both files and checks them (a complete DLL for the platform's machine, an
    // indicator that is neither empty nor a web page) before writing either. The library goes
    // beside the running one, into the platform's "Libraries" folder under a name that carries
    // the published version, unless a complete library for the platform is there already; the
    // indicator file is replaced. Each file is written completely or not at all (SaveFileToDisk);
    // no folder is created, and a library written before the indicator failed stays. A published
    // version that is not plain digits and dots is refused before any download. Never throws a
    // standard exception: failures give Error.
    UpdateStatus Update(const std::u16string& dataFolder, const std::u16string& indicatorPath,
                        const std::u16string& platform, const std::u16string& language) override;

  private:
    const std::shared_ptr<ConfigurationClient> configurationClient_;
    const WriteProgress writeProgress_;
};

}  // namespace morva
