#include "util/uri.h"

#include <stdexcept>

namespace morva {

namespace {

// ASCII letters and digits only: iswalnum follows the process's locale (and on Windows all of
// Unicode), which would let a raw non-ASCII character into a request line.
bool IsUnreserved(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'.' || c == u'_' || c == u'~';
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// Reads like std::stoi(digits, nullptr, 16), white space, sign and early stop included; by hand
// because libstdc++'s stoi says only "stoi" when it fails.
int ReadHexLikeStoi(std::u16string_view digits) {
    std::size_t i = 0;
    // The "C" locale's white space, whatever locale the process runs in.
    const auto blank = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (i < digits.size() && blank(digits[i])) {
        ++i;
    }
    bool negative = false;
    if (i < digits.size() && (digits[i] == u'+' || digits[i] == u'-')) {
        negative = digits[i] == u'-';
        ++i;
    }
    int value = 0;
    bool any = false;
    for (; i < digits.size() && HexDigit(digits[i]) >= 0; ++i) {
        value = value * 16 + HexDigit(digits[i]);
        any = true;
    }
    if (!any) {
        throw std::invalid_argument("invalid stoi argument");
    }
    return negative ? -value : value;
}

}  // namespace

std::u16string EncodeUriComponent(std::u16string_view text) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string result;
    result.reserve(text.size());
    for (const char16_t c : text) {
        if (IsUnreserved(c)) {
            result.push_back(c);
            continue;
        }
        result.push_back(u'%');
        result.push_back(kHex[(c >> 4) & 0xF]);
        result.push_back(kHex[c & 0xF]);
    }
    return result;
}

std::u16string DecodeUriComponent(std::u16string_view text) {
    std::u16string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') {
            result.push_back(text[i]);
            continue;
        }
        if (text.size() - i < 3) {
            throw std::invalid_argument("Failed to decode malformed URI component");
        }
        // A negative value wraps to one unit, as the int would when narrowed.
        result.push_back(static_cast<char16_t>(ReadHexLikeStoi(text.substr(i + 1, 2))));
        i += 2;
    }
    return result;
}

QueryMap ParseQueryParameters(std::u16string_view url) {
    QueryMap result;
    const std::size_t question = url.find(u'?');
    if (question == std::u16string_view::npos || question + 1 == url.size()) {
        return result;
    }
    std::size_t start = question + 1;
    while (true) {
        std::size_t end = url.find(u'&', start);
        const bool atEnd = end == std::u16string_view::npos;
        if (atEnd) {
            end = url.size();
        }
        const std::u16string_view pair = url.substr(start, end - start);
        const std::size_t equals = pair.find(u'=');
        if (equals == std::u16string_view::npos) {
            result.insert_or_assign(DecodeUriComponent(pair), std::u16string());
        } else {
            result.insert_or_assign(DecodeUriComponent(pair.substr(0, equals)),
                                    DecodeUriComponent(pair.substr(equals + 1)));
        }
        if (atEnd || end + 1 == url.size()) {
            break;
        }
        start = end + 1;
    }
    return result;
}

}  // namespace morva
