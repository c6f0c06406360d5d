#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "util/printf_format.h"
#include "util/size_conversion.h"
#include "util/utf.h"

namespace morva {

static_assert(std::is_same_v<UChar, char16_t>);

namespace {

constexpr UChar32 kReplacement = 0xFFFD;

// ICU counts in int32_t; a count it cannot take fails like any other conversion.
std::int32_t IcuCount(std::size_t length) {
    const std::uint32_t count = ToDWord(length);
    return count <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
               ? static_cast<std::int32_t>(count)
               : 0;
}

// The preflight's overflow "error" is how ICU reports the length it needs.
bool PreflightFailed(UErrorCode status, std::int32_t needed) {
    return (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) || needed < 1;
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
    const std::int32_t count = IcuCount(length);
    std::int32_t needed = 0;
    UErrorCode status = U_ZERO_ERROR;
    if (count > 0) {
        u_strFromUTF8WithSub(nullptr, 0, &needed, text, count, kReplacement, nullptr, &status);
    }
    if (count < 1 || PreflightFailed(status, needed)) {
        throw FormattedError<std::range_error>("Failed to convert UTF-8 to UTF-16: %s", text);
    }
    std::u16string result(static_cast<std::size_t>(needed), u'\0');
    std::int32_t written = 0;
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(result.data(), needed, &written, text, count, kReplacement, nullptr,
                         &status);
    if (U_FAILURE(status) || written < 1) {
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
    const std::int32_t count = IcuCount(length);
    std::int32_t needed = 0;
    UErrorCode status = U_ZERO_ERROR;
    if (count > 0) {
        u_strToUTF8WithSub(nullptr, 0, &needed, text, count, kReplacement, nullptr, &status);
    }
    if (count < 1 || PreflightFailed(status, needed)) {
        throw FormattedError<std::range_error>("Failed to convert UTF-16 to UTF-8: %ls", text);
    }
    std::string result(static_cast<std::size_t>(needed), '\0');
    std::int32_t written = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(result.data(), needed, &written, text, count, kReplacement, nullptr,
                       &status);
    if (U_FAILURE(status) || written < 1) {
        throw FormattedError<std::range_error>("Failed to convert UTF-16 to UTF-8: %ls", text);
    }
    result.resize(static_cast<std::size_t>(written));
    return result;
}

}  // namespace morva
