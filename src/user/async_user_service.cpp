#include "user/async_user_service.h"

#include <utility>

#include "base/morva_error.h"

namespace morva {

AsyncUserService::AsyncUserService(std::shared_ptr<StrataClient> strataClient)
    : UserService(std::move(strataClient)) {}

AsyncUserService::~AsyncUserService() {
    // Wait here, while the whole object still stands: the task runs the base class's check.
    const std::lock_guard lock(lock_);
    pending_.Wait();
}

std::int32_t AsyncUserService::CheckPremium(const AccessToken& token,
                                            const std::u16string& instrument) {
    const std::lock_guard lock(lock_);
    // The task takes copies of the arguments: it may outlive this call.
    const auto premium = pending_.Poll(
        worker_,
        [this](const AccessToken& copiedToken, const std::u16string& copiedInstrument) {
            return UserService::CheckPremium(copiedToken, copiedInstrument);
        },
        token, instrument);
    if (!premium) {
        throw MorvaError("Checking premium in progress...");
    }
    return *premium;
}

}  // namespace morva
