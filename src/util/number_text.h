#pragma once

#include <string_view>

namespace morva {

// The number at the start of `text`, read as std::stod reads it in the "C" locale whatever locale
// the process runs in (a host, or GTK, may have set one whose decimal point is a comma): leading
// white space, an optional sign, digits with '.' as the decimal point, an exponent, "inf" and
// "nan"; reading stops at the first character that cannot continue the number. Throws
// std::invalid_argument("stod") when no number starts the text and std::out_of_range("stod") when
// it is beyond a double's range, the exceptions std::stod throws.
double ParseDouble(std::string_view text);

}  // namespace morva
