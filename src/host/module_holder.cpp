#include "host/module_holder.h"

#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "auth/code_auth_service.h"
#include "auth/http_auth_client.h"
#include "base/morva_error.h"
#include "books/http_strata_client.h"
#include "config/environment_profiles.h"
#include "config/http_configuration_client.h"
#include "host/module.h"

namespace morva {

namespace {

// A module's services wait for their running downloads when destroyed. The last owner of a
// replaced module is InitDLL or an export on a terminal thread, which must not wait for the
// network: the module is destroyed on a thread of its own instead (on this one if none can be
// started).
struct RetireInBackground {
    void operator()(Module* module) const noexcept {
        std::unique_ptr<Module> owned(module);
        try {
            std::thread([owned = std::move(owned)]() mutable { owned.reset(); }).detach();
        } catch (const std::system_error&) {
            // The thread never started; the lambda, and with it the module, ends right here.
        }
    }
};

}  // namespace

ModuleHolder::ModuleHolder(std::shared_ptr<HttpClient> httpClient,
                           std::shared_ptr<AuthCodeProvider> authCodeProvider)
    : httpClient_(std::move(httpClient)), authCodeProvider_(std::move(authCodeProvider)) {}

ModuleHolder::~ModuleHolder() = default;

std::shared_ptr<Module> ModuleHolder::ConfigureModule(const TerminalInfo& terminal) {
    const std::lock_guard configuring(configureMutex_);
    {
        const std::lock_guard lock(moduleMutex_);
        // The texts a module was built from are its own: a failed build leaves nothing behind
        // that could match the next call with the current module.
        if (module_ && module_->terminal() == terminal) {
            return module_;
        }
    }
    const EnvironmentProfile* found = SelectProfile(terminal.server);
    if (found == nullptr) {
        throw MorvaError("No configuration match for MetaTrader server name: %ls", terminal.server);
    }
    const std::shared_ptr<Module> module(Build(*found, terminal).release(), RetireInBackground{});

    const std::lock_guard lock(moduleMutex_);
    module_ = module;
    return module;
}

std::unique_ptr<Module> ModuleHolder::Build(const EnvironmentProfile& profile,
                                            const TerminalInfo& terminal) {
    auto authClient =
        std::make_shared<HttpAuthClient>(profile.auth.authHost, profile.auth.clientId, httpClient_);
    auto authService = CodeAuthService::Create(profile.auth, authCodeProvider_, authClient);
    auto strataClient =
        std::make_shared<HttpStrataClient>(profile.bookApiHost, terminal, httpClient_);
    auto configurationClient = std::make_shared<HttpConfigurationClient>(
        profile.configHost, profile.metadataPath, profile.metadataCacheLifetime, httpClient_);
    return std::make_unique<Module>(profile, terminal, std::move(authService),
                                    std::move(strataClient), std::move(configurationClient));
}

std::shared_ptr<Module> ModuleHolder::GetModule() const {
    std::shared_ptr<Module> module;
    {
        const std::lock_guard lock(moduleMutex_);
        module = module_;
    }
    if (!module) {
        throw MorvaError("Orderbook module not initialized");
    }
    return module;
}

}  // namespace morva
