#include <windows.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

#include "util/printf_format.h"
#include "util/size_conversion.h"
#include "util/utf.h"

namespace morva {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

// The API counts in int; a count it cannot take fails like any other conversion.
int ApiCount(std::size_t length) {
    const std::uint32_t count = ToDWord(length);
    return count <= INT_MAX ? static_cast<int>(count) : 0;
}

}  // namespace

std::u16string Utf8ToUtf16(const char* text) {
    if (text == nullptr) {
        return {};
    }
    const std::size_t length = std::strlen(text);
    if (length == 0) {
        return {};
    }
    const int count = ApiCount(length);
    // No flags: invalid sequences become U+FFFD instead of failing the call.
    const int needed = count > 0 ? MultiByteToWideChar(CP_UTF8, 0, text, count, nullptr, 0) : 0;
    if (needed < 1) {
        throw FormattedError<std::range_error>("Failed to convert UTF-8 to UTF-16: %s", text);
    }
    std::u16string result(static_cast<std::size_t>(needed), u'\0');
    const int written = MultiByteToWideChar(CP_UTF8, 0, text, count,
                                            reinterpret_cast<wchar_t*>(result.data()), needed);
    if (written < 1) {
        throw FormattedError<std::range_error>("Failed to convert UTF-8 to UTF-16: %s", text);
    }
    result.resize(static_cast<std::size_t>(written));
    return result;
}

std::string Utf16ToUtf8(const char16_t* text) {
    if (text == nullptr) {
        return {};
    }
    const std::size_t length = std::char_traits<char16_t>::length(text);
    if (length == 0) {
        return {};
    }
    const int count = ApiCount(length);
    const auto* wide = reinterpret_cast<const wchar_t*>(text);
    // CP_UTF8 requires null default-character arguments; lone surrogates become U+FFFD.
    const int needed =
        count > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr) : 0;
    if (needed < 1) {
        throw FormattedError<std::range_error>("Failed to convert UTF-16 to UTF-8: %ls", text);
    }
    std::string result(static_cast<std::size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide, count, result.data(), needed, nullptr, nullptr);
    if (written < 1) {
        throw FormattedError<std::range_error>("Failed to convert UTF-16 to UTF-8: %ls", text);
    }
    result.resize(static_cast<std::size_t>(written));
    return result;
}

}  // namespace morva
