#pragma once

#include <array>
#include <exception>
#include <string_view>

#include "util/printf_format.h"

namespace morva {

// The library's one exception type. The text is formatted printf-style when the error is thrown
// and kept in a fixed buffer, so the object copies cheaply into futures and exception pointers and
// never allocates after construction.
class MorvaError : public std::exception {
  public:
    static constexpr std::size_t kCapacity = 256;  // 255 bytes of UTF-8 and the terminating zero

    // Formats `format` with `args`, wide texts as UTF-8; beyond 255 bytes the text is cut back to
    // a whole character. A format that cannot be filled (a mismatched or missing argument, "%n")
    // gives "Incorrectly formatted error". Never throws.
    template <class... Args>
    explicit MorvaError(const char* format, const Args&... args) noexcept {
        FormatTruncated(message_.data(), message_.size(), kFormatFailed,
                        format != nullptr ? std::string_view(format) : kFormatFailed, args...);
    }

    const char* what() const noexcept override { return message_.data(); }

  private:
    static constexpr std::string_view kFormatFailed = "Incorrectly formatted error";

    std::array<char, kCapacity> message_{};
};

// A book request that the book API rejected as a bad instrument; the only error type that any
// handler catches by its own type.
class InvalidInstrumentError : public MorvaError {
  public:
    using MorvaError::MorvaError;
};

}  // namespace morva
