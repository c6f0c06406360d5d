#include "http/http_request.h"

#include <algorithm>
#include <string_view>

#include "base/morva_error.h"
#include "util/utf.h"

namespace morva {

namespace {

bool IsControlOrBlank(char16_t c) noexcept {
    return c <= u' ' || c == u'\x7f';
}

// RFC 9110's token: what a header name may hold.
bool IsTokenCharacter(char16_t c) noexcept {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
           std::u16string_view(u"!#$%&'*+-.^_`|~").find(c) != std::u16string_view::npos;
}

// A value may hold tabs and any text, but no line break, NUL or other control character.
bool IsForbiddenInValue(char16_t c) noexcept {
    return (c < u' ' && c != u'\t') || c == u'\x7f';
}

// The name as far as it can be shown: anything but printable ASCII as '?'.
std::string Printable(std::u16string_view name) {
    std::string text;
    for (const char16_t c : name) {
        text += c > u' ' && c < u'\x7f' ? static_cast<char>(c) : '?';
    }
    return text;
}

}  // namespace

void CheckRequest(const HttpRequest& request) {
    if (request.host.empty() || std::ranges::any_of(request.host, IsControlOrBlank)) {
        throw MorvaError("Invalid host name");
    }
    if (std::ranges::any_of(request.path, IsControlOrBlank)) {
        throw MorvaError("Invalid request path");
    }
    for (const auto& [name, value] : request.headers) {
        if (name.empty() || !std::ranges::all_of(name, IsTokenCharacter)) {
            throw MorvaError("Invalid header name: %s", Printable(name));
        }
        if (std::ranges::any_of(value, IsForbiddenInValue)) {
            throw MorvaError("Invalid header value for %s", Utf16ToUtf8(name));
        }
    }
}

void ThrowResponseTooLarge(std::uint64_t maxResponseBytes) {
    throw MorvaError("%s failed. Response too large: more than %llu bytes",
                     "Read HTTP response body", static_cast<unsigned long long>(maxResponseBytes));
}

void ThrowTimedOut(const char* operation, std::chrono::seconds timeLimit) {
    throw MorvaError("%s timed out after %lld s", operation,
                     static_cast<long long>(timeLimit.count()));
}

std::chrono::seconds EffectiveTimeLimit(const HttpRequest& request) noexcept {
    return std::max(request.timeLimit, std::chrono::seconds(1));
}

}  // namespace morva
