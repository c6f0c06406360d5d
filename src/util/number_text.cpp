#include "util/number_text.h"

#include <charconv>
#include <stdexcept>
#include <system_error>

namespace morva {

namespace {

// isspace in the "C" locale.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

double ParseDouble(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) {
        ++start;
    }
    // from_chars takes a minus sign but no plus sign.
    if (start < text.size() && text[start] == '+') {
        ++start;
        if (start < text.size() && text[start] == '-') {
            throw std::invalid_argument("stod");
        }
    }
    double value = 0;
    const char* first = text.data() + start;
    const std::from_chars_result result = std::from_chars(first, text.data() + text.size(), value);
    const std::errc error = result.ec;
    if (error == std::errc::invalid_argument) {
        throw std::invalid_argument("stod");
    }
    if (error == std::errc::result_out_of_range) {
        throw std::out_of_range("stod");
    }
    return value;
}

}  // namespace morva
