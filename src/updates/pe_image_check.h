#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace morva {

// IMAGE_FILE_HEADER.Machine of the two libraries: MetaTrader 5 loads 64-bit x86 (AMD64) DLLs,
// MetaTrader 4 32-bit x86 (I386) ones.
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kMachineI386 = 0x014C;

// What keeps `head`, the start of a file of fileSize bytes, from being a complete Windows DLL for
// `machine`; empty when nothing does. Checks the DOS header ("MZ", e_lfanew within the head), the
// "PE\0\0" signature, the machine, the DLL flags, the optional header's magic (PE32+ for AMD64,
// PE32 for I386) and that every section's data lies within the file, so that a file cut short is
// found too. Portable: reads the bytes only, little-endian.
std::string PeImageDefect(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                          std::uint16_t machine);

}  // namespace morva
