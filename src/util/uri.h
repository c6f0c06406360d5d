#pragma once

#include <map>
#include <string>
#include <string_view>

namespace morva {

// ASCII letters and digits and - . _ ~ stay, whatever the locale; every other character becomes
// "%" and two upper-case hex digits of its low 8 bits. Meant for ASCII text.
std::u16string EncodeUriComponent(std::u16string_view text);

// Byte per character: "%C3%A9" gives U+00C3 U+00A9, and "+" stays "+". Throws std::invalid_argument
// for a "%" with fewer than two characters after it, and ("invalid stoi argument") when those two
// begin with no hex digit.
std::u16string DecodeUriComponent(std::u16string_view text);

using QueryMap = std::map<std::u16string, std::u16string>;

// The decoded name=value pairs after the first "?"; the last occurrence of a name wins, and a
// fragment after "#" stays part of the last value.
QueryMap ParseQueryParameters(std::u16string_view url);

}  // namespace morva
