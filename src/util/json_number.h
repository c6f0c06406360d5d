#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>

namespace morva {

// Reads a JSON number whole: an integer as is (the 32-bit form keeps its low 32 bits), a fraction
// truncated toward zero. Anything but a number throws the JSON library's type error ("type must be
// number, but is ..."); a fractional value the type cannot hold throws its out_of_range error
// rather than converting with undefined behaviour.
std::int64_t JsonNumberToInt64(const nlohmann::json& value);
std::int32_t JsonNumberToInt32(const nlohmann::json& value);

}  // namespace morva
