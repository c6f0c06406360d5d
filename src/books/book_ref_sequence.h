#pragma once

#include <atomic>
#include <cstdint>

namespace morva {

// The references of one book kind, numbered for the whole process. A module built for new InitDLL
// texts goes on where the old one stopped, so a reference an indicator kept across the change
// reads "Book #N not found" rather than another account's or instrument's book. A number is never
// handed out twice: once they are used up, every request is refused.
class BookRefSequence {
  public:
    constexpr explicit BookRefSequence(std::int32_t last = 0) noexcept : last_(last) {}
    BookRefSequence(const BookRefSequence&) = delete;
    BookRefSequence& operator=(const BookRefSequence&) = delete;

    // A reference above every one handed out before. Throws MorvaError "Out of book references
    // after #%d" once the largest 32-bit reference is gone.
    std::int32_t Next();

    // The process's sequences, one per book kind.
    static BookRefSequence& OrderBooks() noexcept;
    static BookRefSequence& PositionBooks() noexcept;

  private:
    std::atomic<std::int32_t> last_;
};

}  // namespace morva
