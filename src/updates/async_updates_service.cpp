#include "updates/async_updates_service.h"

#include <chrono>
#include <utility>

namespace morva {

namespace {

template <class T>
bool Finished(const std::future<T>& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace

AsyncUpdatesService::AsyncUpdatesService(std::shared_ptr<ConfigurationClient> configurationClient)
    : UpdatesService(std::move(configurationClient)) {}

AsyncUpdatesService::~AsyncUpdatesService() {
    // Wait here, while the whole object still stands: the check writes into our own fields.
    const std::lock_guard lock(lock_);
    if (pendingCheck_.valid()) {
        pendingCheck_.wait();
    }
    for (auto& [request, update] : pendingUpdates_) {
        update.wait();
    }
}

UpdatesCheckStatus AsyncUpdatesService::CheckForUpdates(char16_t* version, bool* force) {
    const std::lock_guard lock(lock_);
    if (!pendingCheck_.valid()) {
        pendingCheck_ = workers_.Submit(
            [this] { return UpdatesService::CheckForUpdates(version_.data(), &force_); });
    }
    if (!Finished(pendingCheck_)) {
        return UpdatesCheckStatus::InProgress;
    }
    std::future<UpdatesCheckStatus> finished = std::move(pendingCheck_);
    const UpdatesCheckStatus status = finished.get();
    CopyVersionText(std::u16string_view(version_.data()), version);
    *force = force_;
    return status;
}

UpdateStatus AsyncUpdatesService::Update(const std::u16string& dataFolder,
                                         const std::u16string& indicatorPath,
                                         const std::u16string& platform,
                                         const std::u16string& language) {
    const std::lock_guard lock(lock_);
    UpdateRequest request{dataFolder, indicatorPath, platform, language};
    auto pending = pendingUpdates_.find(request);
    if (pending == pendingUpdates_.end()) {
        // The task gets its own copies of the four texts.
        pending = pendingUpdates_
                      .emplace(request, workers_.Submit([this, request] {
                          return UpdatesService::Update(request.dataFolder, request.indicatorPath,
                                                        request.platform, request.language);
                      }))
                      .first;
    }
    if (!Finished(pending->second)) {
        return UpdateStatus::InProgress;
    }
    std::future<UpdateStatus> finished = std::move(pending->second);
    pendingUpdates_.erase(pending);
    return finished.get();
}

}  // namespace morva
