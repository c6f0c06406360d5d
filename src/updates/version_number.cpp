#include "updates/version_number.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace morva {

namespace {

// std::stoi's reading, with the texts every standard library should give but libstdc++ does not.
std::int32_t ReadPart(const std::string& part) {
    const char* begin = part.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin) {
        throw std::invalid_argument("invalid stoi argument");
    }
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        throw std::out_of_range("stoi argument out of range");
    }
    return static_cast<std::int32_t>(value);
}

std::vector<std::int32_t> ReadParts(const std::string& version) {
    std::vector<std::int32_t> parts;
    std::istringstream stream(version);
    std::string part;
    while (std::getline(stream, part, '.')) {
        parts.push_back(ReadPart(part));
    }
    return parts;
}

}  // namespace

int CompareVersions(const std::string& left, const std::string& right) {
    std::vector<std::int32_t> leftParts = ReadParts(left);
    std::vector<std::int32_t> rightParts = ReadParts(right);
    const std::size_t length = std::max(leftParts.size(), rightParts.size());
    leftParts.resize(length, 0);
    rightParts.resize(length, 0);
    for (std::size_t i = 0; i < length; ++i) {
        if (leftParts[i] != rightParts[i]) {
            return leftParts[i] < rightParts[i] ? -1 : 1;
        }
    }
    return 0;
}

bool IsPlainVersion(std::u16string_view version) {
    constexpr int kMaxParts = 4;
    int parts = 1;
    bool digitSeen = false;
    for (const char16_t unit : version) {
        if (unit >= u'0' && unit <= u'9') {
            digitSeen = true;
        } else if (unit == u'.' && digitSeen && parts < kMaxParts) {
            ++parts;
            digitSeen = false;
        } else {
            return false;
        }
    }
    return digitSeen;
}

}  // namespace morva
