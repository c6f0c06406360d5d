#include "url.h"

namespace fake_broker {

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string AppendQuery(const std::string& uri, const QueryParameters& parameters) {
    std::string out = uri;
    char separator = uri.find('?') == std::string::npos ? '?' : '&';
    for (const auto& [name, value] : parameters) {
        out += separator;
        out += PercentEncode(name) + "=" + PercentEncode(value);
        separator = '&';
    }
    return out;
}

bool ScopeHas(std::string_view scope, std::string_view word) {
    while (!scope.empty()) {
        const auto end = scope.find(' ');
        if (scope.substr(0, end) == word) {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        scope.remove_prefix(end + 1);
    }
    return false;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace fake_broker
