#include "host/update_exports.h"

#include <string>

#include "base/morva_error.h"
#include "host/execute_dll.h"
#include "host/module.h"
#include "updates/i_updates_service.h"

namespace morva {

std::u16string_view UpdatesCheckStatusText(std::int32_t status) noexcept {
    switch (static_cast<UpdatesCheckStatus>(status)) {
        case UpdatesCheckStatus::InProgress:
            return u"Checking for updates - Waiting for server response...";
        case UpdatesCheckStatus::Error:
            return u"Checking for updates - An error occurred when checking for updates";
        case UpdatesCheckStatus::NoUpdates:
        case UpdatesCheckStatus::UpdateAvailable:
            return {};
    }
    return u"Checking for updates - Unknown error occurred";
}

std::u16string_view UpdateStatusText(std::int32_t status) noexcept {
    switch (static_cast<UpdateStatus>(status)) {
        case UpdateStatus::InProgress:
            return u"Update in progress...";
        case UpdateStatus::Error:
            return u"An error occurred when updating indicator";
        case UpdateStatus::Updated:
            return {};
    }
    return u"Unknown error occurred during update";
}

std::int32_t CheckForUpdates(Module& module, char16_t* version, bool* force, char16_t* error) {
    if (version == nullptr || force == nullptr) {
        throw MorvaError("CheckForUpdates needs a version buffer and a force flag");
    }
    const auto status = static_cast<std::int32_t>(module.updates().CheckForUpdates(version, force));
    frame::WriteError(error, UpdatesCheckStatusText(status));
    return status;
}

std::int32_t UpdateIndicator(Module& module, const char16_t* dataFolder,
                             const char16_t* indicatorPath, char16_t* error) {
    if (dataFolder == nullptr || indicatorPath == nullptr) {
        throw MorvaError("UpdateIndicator needs a data folder and an indicator path");
    }
    const auto status =
        static_cast<std::int32_t>(module.UpdateIndicator(dataFolder, indicatorPath));
    frame::WriteError(error, UpdateStatusText(status));
    return status;
}

}  // namespace morva
