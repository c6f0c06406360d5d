#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace morva {

// Invalid input (bad UTF-8, lone surrogates) becomes U+FFFD rather than an error. Throws
// std::range_error when the text is too long for a 32-bit count or the converter fails.
std::u16string Utf8ToUtf16(const char* text);   // null: empty
std::string Utf16ToUtf8(const char16_t* text);  // null: empty

// Converted up to the first null character, as a C string would be.
inline std::u16string Utf8ToUtf16(const std::string& text) {
    return Utf8ToUtf16(text.c_str());
}
inline std::string Utf16ToUtf8(const std::u16string& text) {
    return Utf16ToUtf8(text.c_str());
}

// For std::wregex, which speaks wchar_t: UTF-16 units on Windows, code points elsewhere.
inline std::wstring ToRegexText(std::u16string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if constexpr (sizeof(wchar_t) == 4) {
            const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                              text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
            if (pair) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
            }
        }
        wide.push_back(static_cast<wchar_t>(unit));
    }
    return wide;
}

}  // namespace morva
