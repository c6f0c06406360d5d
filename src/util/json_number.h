#pragma once

#include <cstdint>
#include <limits>
#include <nlohmann/json_fwd.hpp>
#include <type_traits>

namespace morva {

// Reads a JSON number whole: an integer as is (the 32-bit form keeps its low 32 bits), a fraction
// truncated toward zero. Anything but a number throws the JSON library's type error ("type must be
// number, but is ..."); a fractional value the type cannot hold throws its out_of_range error
// rather than converting with undefined behaviour.
std::int64_t JsonNumberToInt64(const nlohmann::json& value);
std::int32_t JsonNumberToInt32(const nlohmann::json& value);

namespace json_number_internal {
std::int64_t NumberInRange(const nlohmann::json& value, std::int64_t least, std::int64_t most);
}

// Reads a JSON number as Int, a fraction truncated toward zero as above, with no wrapping around:
// a value Int cannot hold throws the library's out_of_range error ("number overflow: 70000"),
// anything but a number (true and false too) its type error.
template <class Int>
Int JsonNumberInRange(const nlohmann::json& value) {
    static_assert(std::is_integral_v<Int> && !std::is_same_v<Int, bool> &&
                      (std::is_signed_v<Int> || sizeof(Int) < sizeof(std::int64_t)),
                  "the range must fit in 64-bit signed integers");
    return static_cast<Int>(json_number_internal::NumberInRange(
        value, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max()));
}

}  // namespace morva
