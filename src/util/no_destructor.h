#pragma once

#include <new>
#include <utility>

namespace morva {

// Holds a T that is constructed on first use and never destroyed. For process-wide objects that
// code running during process exit (the library's detach) may still reach after static
// destructors have run.
template <class T>
class NoDestructor {
  public:
    template <class... Args>
    explicit NoDestructor(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;
    ~NoDestructor() = default;

    T& operator*() noexcept { return *get(); }
    T* operator->() noexcept { return get(); }
    T* get() noexcept { return std::launder(reinterpret_cast<T*>(storage_)); }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace morva
