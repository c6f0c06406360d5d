#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace morva {

// One argument of a printf-style format, captured with its type so that a conversion that does
// not fit its argument fails cleanly instead of reading the wrong thing off the stack.
class PrintfArg {
  public:
    enum class Kind { None, Signed, Unsigned, Floating, Narrow, Wide, Pointer };

    PrintfArg() = default;

    template <std::integral T>
    PrintfArg(T value) noexcept {  // NOLINT(google-explicit-constructor)
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            signed_ = value;
        } else {
            kind_ = Kind::Unsigned;
            unsigned_ = value;
        }
    }
    template <class E>
    requires std::is_enum_v<E> PrintfArg(E value)
    noexcept  // NOLINT(google-explicit-constructor)
        : PrintfArg(static_cast<std::underlying_type_t<E>>(value)) {}
    template <std::floating_point T>
    PrintfArg(T value) noexcept  // NOLINT(google-explicit-constructor)
        : kind_(Kind::Floating), floating_(static_cast<double>(value)) {}

    PrintfArg(const char* text) noexcept;  // NOLINT(google-explicit-constructor)
    PrintfArg(char* text) noexcept : PrintfArg(static_cast<const char*>(text)) {}  // NOLINT
    PrintfArg(const std::string& text) noexcept;  // NOLINT(google-explicit-constructor)
    PrintfArg(std::string_view text) noexcept;    // NOLINT(google-explicit-constructor)
    PrintfArg(const char16_t* text) noexcept;     // NOLINT(google-explicit-constructor)
    PrintfArg(char16_t* text) noexcept : PrintfArg(static_cast<const char16_t*>(text)) {}  // NOLINT
    PrintfArg(const std::u16string& text) noexcept;  // NOLINT(google-explicit-constructor)
    PrintfArg(std::u16string_view text) noexcept;    // NOLINT(google-explicit-constructor)
    PrintfArg(const void* pointer) noexcept          // NOLINT(google-explicit-constructor)
        : kind_(Kind::Pointer), pointer_(pointer) {}

    Kind kind() const noexcept { return kind_; }
    long long AsSigned() const noexcept;
    unsigned long long AsUnsigned() const noexcept;
    double AsFloating() const noexcept { return floating_; }
    const void* AsPointer() const noexcept { return pointer_; }
    // Null when the argument was a null pointer (printed as "(null)").
    const char* narrow() const noexcept { return static_cast<const char*>(pointer_); }
    const char16_t* wide() const noexcept { return static_cast<const char16_t*>(pointer_); }
    std::size_t length() const noexcept { return length_; }

  private:
    Kind kind_ = Kind::None;
    union {
        long long signed_;
        unsigned long long unsigned_;
        double floating_;
        const void* pointer_ = nullptr;
    };
    std::size_t length_ = 0;
};

// Formats like printf, with fmt, into `out` (replacing its content). Wide-string arguments ("%ls")
// come out as UTF-8, a lone surrogate as U+FFFD. Returns false, leaving `out` unspecified, when the
// format is malformed, an argument is missing or does not fit its conversion, "%n" is used, or
// memory runs out. Never throws. Flags are fmt's, which differ from C's only in corners no error
// text uses (a '+' on an unsigned conversion, '#' with %g, '0' with %a).
bool FormatPrintf(std::string& out, std::string_view format,
                  std::span<const PrintfArg> args) noexcept;

// Copies `text` into a fixed buffer of `capacity` bytes (terminator included), cutting what does
// not fit back to the last whole UTF-8 character. The buffer is always terminated.
void CopyTruncated(char* buffer, std::size_t capacity, std::string_view text) noexcept;

// Formats into a fixed buffer, cut as CopyTruncated cuts; on failure the buffer holds `fallback`.
template <class... Args>
void FormatTruncated(char* buffer, std::size_t capacity, std::string_view fallback,
                     std::string_view format, const Args&... args) noexcept {
    const std::array<PrintfArg, sizeof...(Args)> list{PrintfArg(args)...};
    std::string text;
    CopyTruncated(buffer, capacity,
                  FormatPrintf(text, format, list) ? std::string_view(text) : fallback);
}

// A standard exception of type E carrying a text formatted as the library's own errors are: cut
// to 255 bytes, "Incorrectly formatted error" when the format cannot be filled. For code that sits
// below the library's error type.
template <class E, class... Args>
E FormattedError(const char* format, const Args&... args) {
    std::array<char, 256> text{};
    FormatTruncated(text.data(), text.size(), "Incorrectly formatted error", format, args...);
    return E(text.data());
}

}  // namespace morva
