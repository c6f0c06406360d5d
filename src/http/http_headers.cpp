#include "http/http_headers.h"

#include <algorithm>

#include "util/no_destructor.h"

namespace morva {

namespace {

char16_t FoldAscii(char16_t c) noexcept {
    return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c;
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::u16string_view a, std::u16string_view b) const noexcept {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](char16_t x, char16_t y) { return FoldAscii(x) < FoldAscii(y); });
}

void SetHeader(HttpHeaders& headers, std::u16string_view name, std::u16string_view value) {
    const auto existing = headers.find(name);
    if (existing != headers.end()) {
        existing->second.assign(value);
    } else {
        headers.emplace(std::u16string(name), std::u16string(value));
    }
}

// Never destroyed: background requests may still copy them while the process exits.
const HttpHeaders& JsonAcceptingHeaders() {
    static NoDestructor<const HttpHeaders> headers(HttpHeaders{{u"Accept", u"application/json"}});
    return *headers;
}

const HttpHeaders& JsonExchangingHeaders() {
    static NoDestructor<const HttpHeaders> headers(
        HttpHeaders{{u"Accept", u"application/json"}, {u"Content-Type", u"application/json"}});
    return *headers;
}

HttpHeaders ParseResponseHeaders(std::u16string_view raw) {
    HttpHeaders headers;
    while (!raw.empty()) {
        const std::size_t end = raw.find(u'\n');
        std::u16string_view line = raw.substr(0, end);
        raw = end == std::u16string_view::npos ? std::u16string_view() : raw.substr(end + 1);
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        const std::size_t colon = line.find(u':');
        if (colon == std::u16string_view::npos) {
            continue;
        }
        std::u16string_view value = line.substr(colon + 1);
        const std::size_t first = value.find_first_not_of(u" \t");
        value = first == std::u16string_view::npos ? std::u16string_view() : value.substr(first);
        SetHeader(headers, line.substr(0, colon), value);
    }
    return headers;
}

std::optional<std::uint64_t> DeclaredBodyLength(const HttpHeaders& headers) {
    if (headers.find(std::u16string_view(u"Transfer-Encoding")) != headers.end()) {
        return std::nullopt;
    }
    const auto length = headers.find(std::u16string_view(u"Content-Length"));
    if (length == headers.end()) {
        return std::nullopt;
    }
    std::u16string_view digits = length->second;
    while (!digits.empty() && (digits.back() == u' ' || digits.back() == u'\t')) {
        digits.remove_suffix(1);
    }
    std::uint64_t value = 0;
    for (const char16_t c : digits) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - u'0');
        if (value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace morva
