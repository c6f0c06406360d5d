// Server-name patterns from the remote metadata: a pattern and a name, compiled and matched. Any
// pattern must compile or be refused, and match in bounded time.
//
// Input: one byte per UTF-16 unit, except that 0xFF takes the next two bytes as a little-endian
// unit (so every unit is reachable while ASCII patterns stay readable in the corpus); an unescaped
// null byte ends the pattern and the rest is the name.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "util/name_pattern.h"

namespace {

std::u16string ReadUnits(const std::uint8_t*& data, const std::uint8_t* end) {
    std::u16string units;
    while (data < end) {
        const std::uint8_t byte = *data++;
        if (byte == 0) {
            break;
        }
        if (byte != 0xFF) {
            units.push_back(byte);
        } else if (end - data >= 2) {
            units.push_back(static_cast<char16_t>(data[0] | data[1] << 8));
            data += 2;
        } else {
            data = end;
        }
    }
    return units;
}

// The name spelled as a pattern that matches it and nothing else.
std::u16string Literal(std::u16string_view name) {
    constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string pattern;
    for (const char16_t unit : name) {
        if ((unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9')) {
            pattern.push_back(unit);
            continue;
        }
        pattern += u"\\u";
        for (int shift = 12; shift >= 0; shift -= 4) {
            pattern.push_back(kHex[(unit >> shift) & 0xF]);
        }
    }
    return pattern;
}

bool MatchesOrRefuses(const std::u16string& pattern, std::u16string_view name, bool& matches) {
    try {
        matches = morva::NamePattern(pattern).Matches(name);
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using morva::NamePattern;
    const std::uint8_t* const end = data + size;
    const std::u16string pattern = ReadUnits(data, end);
    const std::u16string name = ReadUnits(data, end);

    bool matches = false;
    if (MatchesOrRefuses(pattern, name, matches)) {
        if (matches && name.size() > NamePattern::kMaxNameLength) {
            __builtin_trap();
        }
        // A group around the whole pattern changes nothing.
        const std::u16string grouped = u"(?:" + pattern + u")";
        bool groupedMatches = false;
        if (grouped.size() <= NamePattern::kMaxPatternLength &&
            (!MatchesOrRefuses(grouped, name, groupedMatches) || groupedMatches != matches)) {
            __builtin_trap();
        }
    }

    // Spelled out with escapes, the name matches itself and not one character more.
    const std::u16string literal = Literal(name);
    if (literal.size() <= NamePattern::kMaxPatternLength &&
        name.size() < NamePattern::kMaxNameLength) {
        const NamePattern itself(literal);
        if (!itself.Matches(name) || itself.Matches(name + u"x")) {
            __builtin_trap();
        }
    }
    return 0;
}
