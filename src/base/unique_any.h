#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace morva {

// The one owner of an OS resource: a handle, the value that means "none" and the function that
// releases it, as one type per kind of resource (`using UniqueFd = UniqueAny<int, CloseFd, -1>`).
// Move-only; the release function's result is ignored, as nothing can be done about it in a
// destructor. Callers that must know whether a close succeeded (a written file) call Close().
// A pointer handle whose "none" is an address no constant expression can spell
// (INVALID_HANDLE_VALUE) gives it as that address's integer: `UniqueAny<HANDLE, CloseFile, -1>`.
template <class Handle, auto Release, auto Invalid = Handle{}>
class UniqueAny {
  public:
    UniqueAny() noexcept = default;
    explicit UniqueAny(Handle handle) noexcept : handle_(handle) {}
    ~UniqueAny() { reset(); }

    UniqueAny(UniqueAny&& other) noexcept : handle_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != None(); }

    // Gives the handle up without releasing it.
    Handle release() noexcept { return std::exchange(handle_, None()); }

    void reset(Handle handle = None()) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if (old != None()) {
            Release(old);
        }
    }

    // Releases a handle that is set, now, and returns what the release function returned.
    auto Close() noexcept { return Release(release()); }

    // For APIs that return a handle through an out parameter; the old one is released first.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }

  private:
    static Handle None() noexcept {
        if constexpr (std::is_pointer_v<Handle> && std::is_integral_v<decltype(Invalid)>) {
            return reinterpret_cast<Handle>(static_cast<std::intptr_t>(Invalid));
        } else {
            return Invalid;
        }
    }

    Handle handle_ = None();
};

}  // namespace morva
