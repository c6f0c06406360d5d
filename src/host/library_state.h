#pragma once

#include <cstdint>
#include <memory>

#include "auth/sign_in_window_class.h"
#include "base/terminal_info.h"
#include "host/module_holder.h"

namespace morva {

// Process-wide state between exports. Set and cleared only by the entry point (attach and detach),
// when no export runs; exports only read it.
struct LibraryState {
    void* instance = nullptr;           // the library's own module handle
    SignInWindowClass authWindowClass;  // empty while not registered
    std::unique_ptr<ModuleHolder> holder;
};

// Never destroyed: detach may run after the process's static destructors.
LibraryState& Library() noexcept;

// "MORVA_Orderbook64 (v1.16.5.0)": names the library in the attach and detach lines.
const char* LibraryLabel() noexcept;

// The current module, for export bodies; "Orderbook module not initialized" before a successful
// InitDLL (and outside attach..detach).
std::shared_ptr<Module> GetModule();

// InitDLL's configuration step through the process-wide holder.
std::shared_ptr<Module> ConfigureModule(const TerminalInfo& terminal);

}  // namespace morva
