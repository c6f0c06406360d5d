#include "updates/async_updates_service.h"

#include <utility>

namespace morva {

AsyncUpdatesService::AsyncUpdatesService(std::shared_ptr<ConfigurationClient> configurationClient)
    : UpdatesService(std::move(configurationClient)) {}

AsyncUpdatesService::~AsyncUpdatesService() {
    // Wait here, while the whole object still stands: the check writes into our own fields.
    const std::lock_guard lock(lock_);
    pendingCheck_.Wait();
    pendingUpdates_.Wait();
}

UpdatesCheckStatus AsyncUpdatesService::CheckForUpdates(char16_t* version, bool* force) {
    const std::lock_guard lock(lock_);
    const auto status = pendingCheck_.Poll(
        workers_, [this] { return UpdatesService::CheckForUpdates(version_.data(), &force_); });
    if (!status) {
        return UpdatesCheckStatus::InProgress;
    }
    CopyVersionText(std::u16string_view(version_.data()), version);
    *force = force_;
    return *status;
}

UpdateStatus AsyncUpdatesService::Update(const std::u16string& dataFolder,
                                         const std::u16string& indicatorPath,
                                         const std::u16string& platform,
                                         const std::u16string& language) {
    const std::lock_guard lock(lock_);
    const auto status = pendingUpdates_.Poll(
        workers_, UpdateRequest{dataFolder, indicatorPath, platform, language},
        [this](const UpdateRequest& request) {
            return UpdatesService::Update(request.dataFolder, request.indicatorPath,
                                          request.platform, request.language);
        });
    return status.value_or(UpdateStatus::InProgress);
}

}  // namespace morva
