#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace morva {

namespace detail {

inline constexpr std::string_view kAnonymousNamespace = "(anonymous namespace)";

// Start of the parameter list of the function named by a compiler's pretty function text: the
// first '(' outside angle brackets, skipping clang's "(anonymous namespace)".
constexpr std::size_t ParameterListStart(std::string_view text) noexcept {
    int depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>' && depth > 0) {
            --depth;
        } else if (c == '(' && depth == 0) {
            if (text.substr(i, kAnonymousNamespace.size()) == kAnonymousNamespace) {
                i += kAnonymousNamespace.size() - 1;
                continue;
            }
            return i;
        }
    }
    return text.size();
}

// Start of the name: after the last blank outside angle brackets before the parameter list, so
// that return types and "static"/"virtual" fall away.
constexpr std::size_t NameStart(std::string_view text, std::size_t end) noexcept {
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < end; ++i) {
        const char c = text[i];
        if (text.substr(i, kAnonymousNamespace.size()) == kAnonymousNamespace) {
            i += kAnonymousNamespace.size() - 1;
        } else if (c == '<') {
            ++depth;
        } else if (c == '>' && depth > 0) {
            --depth;
        } else if (c == ' ' && depth == 0) {
            start = i + 1;
        }
    }
    return start;
}

}  // namespace detail

// "void morva::Module::InitCreds()" -> "morva::Module::InitCreds"; a lambda's
// "morva::Module::InitCreds()::<lambda()>" names its enclosing function the same way.
// N is the size of the pretty function text, terminator included; the result is terminated.
template <std::size_t N>
constexpr std::array<char, N> QualifiedName(const char (&pretty)[N]) noexcept {
    const std::string_view text(pretty, N - 1);
    const std::size_t end = detail::ParameterListStart(text);
    std::size_t start = detail::NameStart(text, end);
    while (start < end && (text[start] == '*' || text[start] == '&')) {
        ++start;  // "const char* morva::F()" puts the pointer mark before the name on some
                  // compilers
    }
    std::array<char, N> name{};
    for (std::size_t i = start; i < end; ++i) {
        name[i - start] = text[i];
    }
    return name;
}

}  // namespace morva
