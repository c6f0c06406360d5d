#pragma once

#include <memory>
#include <mutex>

namespace morva {

class Module;

// The process-wide owner of the current module, which export bodies reach through GetModule.
// The module is read by any terminal thread and replaced by InitDLL, so the pointer is guarded;
// readers copy it and keep a replaced module alive until their export returns.
class ModuleHolder {
  public:
    // The current module; throws MorvaError "Orderbook module not initialized" when there is none.
    std::shared_ptr<Module> GetModule() const;

  private:
    mutable std::mutex moduleMutex_;  // guards module_
    std::shared_ptr<Module> module_;
};

}  // namespace morva
