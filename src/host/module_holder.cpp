#include "host/module_holder.h"

#include "host/morva_error.h"

namespace morva {

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
