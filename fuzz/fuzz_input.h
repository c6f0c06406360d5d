#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace morva::fuzz {

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Splits at the first line feed: several inputs from one buffer, each still free to hold any
// byte but that one. Without a line feed the whole text is the first part.
inline std::pair<std::string_view, std::string_view> SplitAtLine(std::string_view text) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
        return {text, {}};
    }
    return {text.substr(0, end), text.substr(end + 1)};
}

// Two bytes per unit, little-endian: every UTF-16 unit reachable, lone surrogates included.
inline std::u16string AsUtf16Units(std::string_view bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return units;
}

// Runs `action` and lets through the errors named: the parser's documented ways of refusing an
// input. Anything else escapes and is a finding.
template <class Error, class... More, class Action>
void Tolerating(const Action& action) {
    try {
        if constexpr (sizeof...(More) == 0) {
            action();
        } else {
            Tolerating<More...>(action);
        }
    } catch (const Error&) {
    }
}

}  // namespace morva::fuzz
