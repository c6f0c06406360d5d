#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/terminal_info.h"

namespace morva {

// The outcome of an update check, as the indicator receives it.
enum class UpdatesCheckStatus : std::int32_t {
    InProgress = 1,
    Error = 2,
    NoUpdates = 3,
    UpdateAvailable = 4,
};

// The outcome of an installation, as the indicator receives it.
enum class UpdateStatus : std::int32_t {
    InProgress = 1,
    Error = 2,
    Updated = 3,
};

// Checks for and installs newer versions of the library and the indicator.
class IUpdatesService {
  public:
    // version: a buffer of kTerminalTextSize characters for the published version; force: set
    // when the installed version is below the published minimum.
    virtual UpdatesCheckStatus CheckForUpdates(char16_t* version, bool* force) = 0;
    // dataFolder holds the "MQL4" or "MQL5" folder; indicatorPath is the indicator file to
    // overwrite; platform is "mt4" or "mt5"; language names the indicator file to download.
    virtual UpdateStatus Update(const std::u16string& dataFolder,
                                const std::u16string& indicatorPath, const std::u16string& platform,
                                const std::u16string& language) = 0;
    virtual ~IUpdatesService() = default;
};

}  // namespace morva
