#include "books/book_ref_sequence.h"

#include <limits>

#include "base/morva_error.h"

namespace morva {

std::int32_t BookRefSequence::Next() {
    std::int32_t last = last_.load();
    do {
        // Wrapping would hand out numbers that stale references still carry.
        if (last == std::numeric_limits<std::int32_t>::max()) {
            throw MorvaError("Out of book references after #%d", last);
        }
    } while (!last_.compare_exchange_weak(last, last + 1));
    return last + 1;
}

// Atomics alone, initialised before any code runs and never destroyed: safe from any thread at
// any time, process exit included.
BookRefSequence& BookRefSequence::OrderBooks() noexcept {
    static constinit BookRefSequence sequence;
    return sequence;
}

BookRefSequence& BookRefSequence::PositionBooks() noexcept {
    static constinit BookRefSequence sequence;
    return sequence;
}

}  // namespace morva
