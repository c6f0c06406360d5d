#pragma once

#include <cstdint>

namespace morva {

// HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW), the status Windows' own intsafe helpers report.
inline constexpr std::uint32_t kArithmeticOverflow = 0x80070216;

// Returns 0, or kArithmeticOverflow with `result` set to 0xFFFFFFFF.
std::uint32_t SizeTToDWord(std::uint64_t size, std::uint32_t& result) noexcept;

// As SizeTToDWord, but throws std::overflow_error "Convert size to DWORD failed (0x80070216)".
std::uint32_t ToDWord(std::uint64_t size);

}  // namespace morva
