#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "user/user_service.h"
#include "util/pending_result.h"
#include "util/worker_pool.h"

namespace morva {

// Never waits: the first call starts the check on a background thread and every call until it has
// finished throws MorvaError "Checking premium in progress...". The call that finds it finished
// returns its answer and forgets it, so the next call starts a new check with its own arguments.
class AsyncUserService : public UserService {
  public:
    explicit AsyncUserService(std::shared_ptr<StrataClient> strataClient);
    ~AsyncUserService() override;

    // A call that finds a check running polls that check; its own arguments are not used.
    std::int32_t CheckPremium(const AccessToken& token, const std::u16string& instrument) override;

  private:
    std::mutex lock_;  // held for the whole of each CheckPremium call, never by the task
    PendingResult<std::int32_t> pending_;
    WorkerPool worker_{1};  // kept between checks, so no call starts or joins one
};

}  // namespace morva
