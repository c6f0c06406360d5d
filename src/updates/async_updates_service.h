#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "updates/updates_service.h"
#include "util/pending_result.h"
#include "util/worker_pool.h"

namespace morva {

// Never waits: checks and installations run on background tasks and calls answer InProgress until
// a later call collects the outcome. One check runs at a time; installations run one per distinct
// request (data folder, indicator path, platform, language), side by side. Destroying the service
// waits for the tasks still running.
class AsyncUpdatesService : public UpdatesService {
  public:
    explicit AsyncUpdatesService(std::shared_ptr<ConfigurationClient> configurationClient);
    ~AsyncUpdatesService() override;

    // The call that finds the check finished copies the version text and force flag of the last
    // check that got that far into the caller's outputs, whatever the status; calls before leave
    // them alone.
    UpdatesCheckStatus CheckForUpdates(char16_t* version, bool* force) override;
    UpdateStatus Update(const std::u16string& dataFolder, const std::u16string& indicatorPath,
                        const std::u16string& platform, const std::u16string& language) override;

  private:
    struct UpdateRequest {
        std::u16string dataFolder;
        std::u16string indicatorPath;
        std::u16string platform;
        std::u16string language;

        auto operator<=>(const UpdateRequest&) const = default;
    };

    std::mutex lock_;  // held for the whole of each call, never by a task
    // Written only by the running check; read by callers only once it has finished.
    std::array<char16_t, kTerminalTextSize> version_{};
    bool force_ = false;
    // The destructor waits for every one of them before the workers end.
    PendingResult<UpdatesCheckStatus> pendingCheck_;
    PendingResults<UpdateRequest, UpdateStatus> pendingUpdates_;
    // The check and the installations are independent; two threads let a check answer while an
    // installation downloads.
    WorkerPool workers_{2};
};

}  // namespace morva
