#include "base/log.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "util/no_destructor.h"

namespace morva::log {

namespace {

// The installed logger's owner and the pointer that log calls read. Never destroyed: detach code
// logs while the process's static destructors run.
struct Installed {
    std::mutex mutex;  // serialises Install; readers never take it
    std::shared_ptr<spdlog::logger> owner;
    std::atomic<spdlog::logger*> current{nullptr};
};

Installed& State() noexcept {
    static NoDestructor<Installed> state;
    return *state;
}

}  // namespace

spdlog::logger* Logger() noexcept {
    return State().current.load(std::memory_order_acquire);
}

void Install(std::shared_ptr<spdlog::logger> logger) {
    Installed& state = State();
    std::shared_ptr<spdlog::logger> previous;
    {
        const std::lock_guard lock(state.mutex);
        state.current.store(logger.get(), std::memory_order_release);
        previous = std::exchange(state.owner, std::move(logger));
    }
    // Released outside the lock: its sinks may close files.
}

}  // namespace morva::log
