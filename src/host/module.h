#pragma once

#include <memory>
#include <mutex>

#include "auth/access_token.h"
#include "auth/auth_service.h"
#include "base/terminal_info.h"
#include "books/book_service.h"
#include "books/strata_client.h"
#include "config/configuration_client.h"
#include "config/environment_profile.h"
#include "config/server_config_provider.h"
#include "time/time_converter.h"
#include "updates/i_updates_service.h"
#include "user/i_user_service.h"
#include "util/clock.h"

namespace morva {

// Every service for one environment and one terminal. The export bodies reach the services
// through it. Fixed after construction except the time converter, which InitDLL rebuilds.
class Module {
  public:
    Module(EnvironmentProfile profile, TerminalInfo terminal, std::shared_ptr<AuthService> auth,
           std::shared_ptr<StrataClient> strataClient,
           std::shared_ptr<ConfigurationClient> configurationClient,
           std::shared_ptr<const Clock> clock = RealClock());
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Fetches the trading server's clock settings and builds a new time converter from them; the
    // previous converter stays in use when this fails (in non-blocking mode, "Waiting for server
    // configuration" until the document has arrived).
    void InitTimeConverter();
    // Throws MorvaError until InitTimeConverter has succeeded once.
    std::shared_ptr<const TimeConverter> GetTimeConverter() const;

    // Non-blocking profiles never wait: "Waiting for authorization" until the sign-in is done.
    AccessToken GetAccessToken();
    void InitCreds();

    // Installs the published library and indicator for this terminal's platform and language.
    UpdateStatus UpdateIndicator(const std::u16string& dataFolder,
                                 const std::u16string& indicatorPath);

    const EnvironmentProfile& profile() const { return profile_; }
    const TerminalInfo& terminal() const { return terminal_; }
    BookService& orderBooks() const { return *orderBookService_; }
    BookService& positionBooks() const { return *positionBookService_; }
    IUpdatesService& updates() const { return *updatesService_; }
    IUserService& user() const { return *userService_; }

  private:
    const EnvironmentProfile profile_;
    const TerminalInfo terminal_;  // the texts it was built for, which the holder compares
    const std::shared_ptr<AuthService> authService_;
    const std::shared_ptr<StrataClient> strataClient_;
    const std::shared_ptr<ConfigurationClient> configurationClient_;

    mutable std::mutex timeConverterMutex_;  // guards timeConverter_: exports read, InitDLL writes
    std::shared_ptr<const TimeConverter> timeConverter_;

    std::unique_ptr<BookService> orderBookService_;
    std::unique_ptr<BookService> positionBookService_;
    std::unique_ptr<IUpdatesService> updatesService_;
    std::unique_ptr<IUserService> userService_;
    std::unique_ptr<IServerConfigProvider> serverConfigProvider_;
};

}  // namespace morva
