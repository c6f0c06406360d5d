#pragma once

#include <memory>
#include <mutex>

#include "auth/auth_code_provider.h"
#include "base/terminal_info.h"
#include "config/environment_profile.h"
#include "http/http_client.h"

namespace morva {

class Module;

// The process-wide owner of the two collaborators made once per process and of the current
// module, which export bodies reach through GetModule. The module is read by any terminal thread
// and replaced by InitDLL, so the pointer is guarded; readers copy it and keep a replaced module
// alive until their export returns.
class ModuleHolder {
  public:
    ModuleHolder(std::shared_ptr<HttpClient> httpClient,
                 std::shared_ptr<AuthCodeProvider> authCodeProvider);
    virtual ~ModuleHolder();
    ModuleHolder(const ModuleHolder&) = delete;
    ModuleHolder& operator=(const ModuleHolder&) = delete;

    // The current module when the four texts equal those it was built for; otherwise a new module
    // for the environment the server name selects, which replaces the current one once built.
    // Throws MorvaError "No configuration match for MetaTrader server name: %ls" and changes
    // nothing when no environment matches; a build that throws changes nothing either.
    std::shared_ptr<Module> ConfigureModule(const TerminalInfo& terminal);

    // The current module; throws MorvaError "Orderbook module not initialized" when there is none.
    std::shared_ptr<Module> GetModule() const;

  protected:
    // A module for the profile and the texts, with clients of its own; tests make it fail.
    virtual std::unique_ptr<Module> Build(const EnvironmentProfile& profile,
                                          const TerminalInfo& terminal);

  private:
    const std::shared_ptr<HttpClient> httpClient_;
    const std::shared_ptr<AuthCodeProvider> authCodeProvider_;

    // Serialises configurations (two indicators of one terminal may call InitDLL at once); held
    // while a module is built, which does no I/O.
    std::mutex configureMutex_;

    mutable std::mutex moduleMutex_;  // guards module_; held only to copy or swap the pointer
    std::shared_ptr<Module> module_;
};

}  // namespace morva
