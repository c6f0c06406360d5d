#pragma once

#include <string>

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

}  // namespace morva
