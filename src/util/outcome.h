#pragma once

#include <exception>
#include <optional>
#include <utility>

namespace morva {

// A task's result or its exception, for carrying through a std::future and taking out whole.
// A future that carries the exception itself keeps a reference to it in its shared state, which
// the worker thread may release last, after the caller has read the exception: the exception's
// own reference count is hidden from the thread sanitizer, which then reports a race. Taken out
// of an Outcome, the exception belongs to the caller alone.
template <class T>
class Outcome {
  public:
    // Runs `task` and keeps what it returns or throws.
    template <class Task>
    static Outcome Of(Task&& task) {
        Outcome outcome;
        try {
            outcome.value_.emplace(std::forward<Task>(task)());
        } catch (...) {
            outcome.error_ = std::current_exception();
        }
        return outcome;
    }

    // Returns the result or rethrows the exception, leaving nothing behind.
    T Take() {
        if (error_) {
            std::rethrow_exception(std::exchange(error_, nullptr));
        }
        return std::move(*value_);
    }

  private:
    Outcome() = default;

    std::optional<T> value_;
    std::exception_ptr error_;
};

}  // namespace morva
