#include "user/async_user_service.h"

#include <chrono>
#include <utility>

#include "host/morva_error.h"

namespace morva {

AsyncUserService::AsyncUserService(std::shared_ptr<StrataClient> strataClient)
    : UserService(std::move(strataClient)) {}

AsyncUserService::~AsyncUserService() {
    // Wait here, while the whole object still stands: the task runs the base class's check.
    const std::lock_guard lock(lock_);
    if (pending_.valid()) {
        pending_.wait();
    }
}

std::int32_t AsyncUserService::CheckPremium(const AccessToken& token,
                                            const std::u16string& instrument) {
    const std::lock_guard lock(lock_);
    if (!pending_.valid()) {
        // Copies: the task may outlive this call's arguments.
        pending_ = worker_.Submit(
            [this, token, instrument] { return UserService::CheckPremium(token, instrument); });
    }
    if (pending_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        throw MorvaError("Checking premium in progress...");
    }
    std::future<std::int32_t> finished = std::move(pending_);
    return finished.get();
}

}  // namespace morva
