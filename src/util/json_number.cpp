#include "util/json_number.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

namespace morva {

namespace {

using Json = nlohmann::json;

[[noreturn]] void ThrowNotNumber(const Json& value) {
    throw Json::type_error::create(
        302, "type must be number, but is " + std::string(value.type_name()), &value);
}

[[noreturn]] void ThrowOverflow(const Json& value) {
    throw Json::out_of_range::create(406, "number overflow: " + value.dump(), &value);
}

// A fraction is cut toward zero; a value the target cannot hold is refused rather than converted
// with undefined behaviour.
template <class Int>
Int TruncateFloat(const Json& value) {
    const double whole = std::trunc(value.get<double>());
    // The bounds as doubles: the lower one is exact, the upper one is 2^(bits-1).
    constexpr double kLower = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double kUpper = -kLower;
    if (!(whole >= kLower && whole < kUpper)) {
        ThrowOverflow(value);
    }
    return static_cast<Int>(whole);
}

}  // namespace

std::int64_t JsonNumberToInt64(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
            return value.get<std::int64_t>();
        case Json::value_t::number_float:
            return TruncateFloat<std::int64_t>(value);
        default:
            ThrowNotNumber(value);
    }
}

namespace json_number_internal {

std::int64_t NumberInRange(const Json& value, std::int64_t least, std::int64_t most) {
    switch (value.type()) {
        case Json::value_t::number_integer: {
            const auto number = value.get<std::int64_t>();
            if (number < least || number > most) {
                ThrowOverflow(value);
            }
            return number;
        }
        case Json::value_t::number_unsigned: {
            const auto number = value.get<std::uint64_t>();
            if (number > static_cast<std::uint64_t>(most)) {
                ThrowOverflow(value);
            }
            return static_cast<std::int64_t>(number);
        }
        case Json::value_t::number_float: {
            const double whole = std::trunc(value.get<double>());
            // `most + 1` as a double is exact, or rounds to 2^63 when `most` is the int64 maximum.
            if (!(whole >= static_cast<double>(least) && whole < static_cast<double>(most) + 1.0)) {
                ThrowOverflow(value);
            }
            return static_cast<std::int64_t>(whole);
        }
        default:
            ThrowNotNumber(value);
    }
}

}  // namespace json_number_internal

std::int32_t JsonNumberToInt32(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
            return static_cast<std::int32_t>(value.get<std::int64_t>());
        case Json::value_t::number_float:
            return TruncateFloat<std::int32_t>(value);
        default:
            ThrowNotNumber(value);
    }
}

}  // namespace morva
