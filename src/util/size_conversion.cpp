#include "util/size_conversion.h"

#include <limits>
#include <stdexcept>

namespace morva {

std::uint32_t SizeTToDWord(std::uint64_t size, std::uint32_t& result) noexcept {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (size > kMax) {
        result = static_cast<std::uint32_t>(kMax);
        return kArithmeticOverflow;
    }
    result = static_cast<std::uint32_t>(size);
    return 0;
}

std::uint32_t ToDWord(std::uint64_t size) {
    std::uint32_t result = 0;
    const std::uint32_t status = SizeTToDWord(size, result);
    if (status != 0) {
        throw std::overflow_error("Convert size to DWORD failed (0x80070216)");
    }
    return result;
}

}  // namespace morva
