#include "host/module.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <utility>

#include "base/log.h"
#include "base/morva_error.h"
#include "books/async_book_service.h"
#include "books/book_ref_sequence.h"
#include "books/cached_book_service.h"
#include "books/order_book_source.h"
#include "books/position_book_source.h"
#include "time/mt_time_converter.h"
#include "updates/async_updates_service.h"
#include "user/async_user_service.h"

namespace morva {

Module::Module(EnvironmentProfile profile, TerminalInfo terminal, std::shared_ptr<AuthService> auth,
               std::shared_ptr<StrataClient> strataClient,
               std::shared_ptr<ConfigurationClient> configurationClient,
               std::shared_ptr<const Clock> clock)
    : profile_(std::move(profile)),
      terminal_(std::move(terminal)),
      authService_(std::move(auth)),
      strataClient_(std::move(strataClient)),
      configurationClient_(std::move(configurationClient)) {
    auto orderBooks = std::make_shared<OrderBookSource>(strataClient_, clock);
    auto positionBooks = std::make_shared<PositionBookSource>(strataClient_, clock);
    if (!profile_.asynchronous) {
        MORVA_LOG_INFO("Configured for synchronous operation");
        orderBookService_ = std::make_unique<CachedBookService>(
            profile_.bookCacheLifetime, BookRefSequence::OrderBooks(), authService_,
            std::move(orderBooks), clock);
        positionBookService_ = std::make_unique<CachedBookService>(
            profile_.bookCacheLifetime, BookRefSequence::PositionBooks(), authService_,
            std::move(positionBooks), clock);
        updatesService_ = std::make_unique<UpdatesService>(configurationClient_);
        userService_ = std::make_unique<UserService>(strataClient_);
        serverConfigProvider_ =
            std::make_unique<ServerConfigProvider>(terminal_.server, configurationClient_);
    } else {
        MORVA_LOG_INFO("Configured for asynchronous (non-blocking) operation");
        orderBookService_ = std::make_unique<AsyncBookService>(
            profile_.bookCacheLifetime, BookRefSequence::OrderBooks(), authService_,
            std::move(orderBooks), clock);
        positionBookService_ = std::make_unique<AsyncBookService>(
            profile_.bookCacheLifetime, BookRefSequence::PositionBooks(), authService_,
            std::move(positionBooks), clock);
        updatesService_ = std::make_unique<AsyncUpdatesService>(configurationClient_);
        userService_ = std::make_unique<AsyncUserService>(strataClient_);
        serverConfigProvider_ =
            std::make_unique<AsyncServerConfigProvider>(terminal_.server, configurationClient_);
    }
}

void Module::InitTimeConverter() {
    const ServerConfig config = serverConfigProvider_->GetServerConfig();
    // The offset comes from a remote document: refuse one whose minutes do not fit.
    const std::int64_t minutes = std::int64_t{config.utcOffset} * 60;
    if (minutes < INT32_MIN || minutes > INT32_MAX) {
        throw MorvaError("Server UTC offset out of range: %d", config.utcOffset);
    }
    auto converter = std::make_shared<const MTTimeConverter>(static_cast<std::int32_t>(minutes),
                                                             config.daylightTimeZone);
    const std::lock_guard lock(timeConverterMutex_);
    timeConverter_ = std::move(converter);
}

std::shared_ptr<const TimeConverter> Module::GetTimeConverter() const {
    std::shared_ptr<const TimeConverter> converter;
    {
        const std::lock_guard lock(timeConverterMutex_);
        converter = timeConverter_;
    }
    if (!converter) {
        throw MorvaError("Server time is not known yet: InitDLL has not succeeded");
    }
    return converter;
}

AccessToken Module::GetAccessToken() {
    if (!profile_.asynchronous) {
        return authService_->GetAccessToken();
    }
    const std::shared_future<AccessToken> authorization = authService_->GetAccessTokenAsync();
    if (authorization.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        throw MorvaError("Waiting for authorization");
    }
    return authorization.get();
}

void Module::InitCreds() {
    const AccessToken token = GetAccessToken();
    const JwtPayload& claims = token.jwt.payload;
    MORVA_LOG_INFO("Authorized {} by {} (canAccessPremium={})", claims.sub, claims.iss,
                   claims.liveCanAccessPremium ? std::to_string(*claims.liveCanAccessPremium)
                                               : std::string("empty"));
}

UpdateStatus Module::UpdateIndicator(const std::u16string& dataFolder,
                                     const std::u16string& indicatorPath) {
    return updatesService_->Update(dataFolder, indicatorPath, terminal_.platform,
                                   terminal_.language);
}

}  // namespace morva
