#pragma once

#include <algorithm>
#include <array>

namespace morva {

template <class Char, class... Args>
void FormatTruncated(Char* buffer, std::size_t capacity, std::basic_string_view<Char> fallback,
                     std::basic_string_view<Char> format, const Args&... args) noexcept {
    if (buffer == nullptr || capacity == 0) {
        return;
    }
    const std::array<PrintfArg, sizeof...(Args)> list{PrintfArg(args)...};
    std::basic_string<Char> text;
    std::basic_string_view<Char> result = fallback;
    if (FormatPrintf(text, format, list)) {
        result = text;
    }
    const std::size_t count = std::min(result.size(), capacity - 1);
    std::copy_n(result.data(), count, buffer);
    buffer[count] = Char{};
}

template <class E, class... Args>
E FormattedError(const char* format, const Args&... args) {
    std::array<char, 256> text{};
    FormatTruncated<char>(text.data(), text.size(), "Incorrectly formatted error", format, args...);
    return E(text.data());
}

}  // namespace morva
