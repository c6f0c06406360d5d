#include "host/library_lifecycle.h"

#include <exception>
#include <memory>
#include <utility>

#include "auth/sign_in_window_class.h"
#include "auth/window_auth_code_provider.h"
#include "base/log.h"
#include "base/module_path.h"
#include "base/morva_error.h"
#include "host/library_state.h"
#include "host/logging_setup.h"
#include "http/lazy_http_client.h"
#include "util/no_destructor.h"
#include "util/stopwatch.h"

namespace morva {

LibraryState& Library() noexcept {
    static NoDestructor<LibraryState> state;
    return *state;
}

const char* LibraryLabel() noexcept {
    return MORVA_LIBRARY_NAME " (v" MORVA_VERSION ")";
}

std::shared_ptr<Module> GetModule() {
    const ModuleHolder* holder = Library().holder.get();
    if (holder == nullptr) {
        throw MorvaError("Orderbook module not initialized");
    }
    return holder->GetModule();
}

std::shared_ptr<Module> ConfigureModule(const TerminalInfo& terminal) {
    ModuleHolder* holder = Library().holder.get();
    if (holder == nullptr) {
        throw MorvaError("Orderbook module not initialized");
    }
    return holder->ConfigureModule(terminal);
}

}  // namespace morva

bool LoadDll(void* instance) noexcept {
    morva::LibraryState& library = morva::Library();
    library.instance = instance;
    try {
        morva::SetUpLogging(morva::ModuleFilePath(instance));
    } catch (...) {
        // Without a log folder the library still works; it just cannot tell anyone.
    }

    const morva::Stopwatch stopwatch;
    try {
        MORVA_LOG_DEBUG("Loading {}", morva::LibraryLabel());
        if (!library.authWindowClass) {
            library.authWindowClass = morva::RegisterSignInWindowClass(instance);
        }
        // The transport is made on first use: WinInet must not be called under the loader lock.
        auto httpClient = std::make_shared<morva::LazyHttpClient>(morva::CreatePlatformHttpClient);
        auto authCodeProvider = morva::CreatePlatformAuthCodeProvider(instance);
        library.holder = std::make_unique<morva::ModuleHolder>(std::move(httpClient),
                                                               std::move(authCodeProvider));
        MORVA_LOG_INFO("Loaded {} in {:.6f}s", morva::LibraryLabel(), stopwatch.Seconds());
        return true;
    } catch (const std::exception& e) {
        MORVA_LOG_ERROR("Failed to load {}: {}", morva::LibraryLabel(), e.what());
    } catch (...) {
        MORVA_LOG_ERROR("Failed to load {}: unknown error", morva::LibraryLabel());
    }
    return false;
}

bool UnloadDll() noexcept {
    morva::LibraryState& library = morva::Library();
    const morva::Stopwatch stopwatch;
    try {
        MORVA_LOG_DEBUG("Unloading {}", morva::LibraryLabel());
        library.holder.reset();
        library.authWindowClass.reset();
        MORVA_LOG_INFO("Unloaded {} in {:.6f}s", morva::LibraryLabel(), stopwatch.Seconds());
        // Nothing of the library runs after an unpinned unload: the logger and its open log file
        // would otherwise outlive the library's code, once for every load.
        morva::log::Install(nullptr);
        return true;
    } catch (const std::exception& e) {
        MORVA_LOG_ERROR("Failed to unload {}: {}", morva::LibraryLabel(), e.what());
    } catch (...) {
        MORVA_LOG_ERROR("Failed to unload {}: unknown error", morva::LibraryLabel());
    }
    return false;
}
