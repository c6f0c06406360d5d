#include "user/user_service.h"

#include <exception>
#include <utility>

#include "base/log.h"

namespace morva {

UserService::UserService(std::shared_ptr<StrataClient> strataClient)
    : strataClient_(std::move(strataClient)) {}

std::int32_t UserService::CheckPremium(const AccessToken& token, const std::u16string& instrument) {
    const auto& claim = token.jwt.payload.liveCanAccessPremium;
    if (claim.has_value() && *claim > 0) {
        MORVA_LOG_DEBUG("JWT CanAccessPremium: {}", *claim);
        return *claim;
    }
    try {
        const bool premium = strataClient_->CanAccessPremium(token, instrument);
        MORVA_LOG_DEBUG("MetaTrader CanAccessPremium: {}", premium ? 1 : 0);
        return premium ? 1 : 0;
    } catch (const std::exception& e) {
        MORVA_LOG_ERROR("Failed to check premium: {}", e.what());
    } catch (...) {
        MORVA_LOG_ERROR("Failed to check premium: Unknown error");
    }
    // The indicator cannot tell a failed query from a refusal: both withhold premium.
    return 0;
}

}  // namespace morva
