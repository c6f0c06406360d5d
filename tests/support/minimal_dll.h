#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morva::test {

// The smallest file a Windows loader would take for a DLL of `machine` (0x8664 or 0x014C): DOS
// header, PE signature, file and optional headers, one section whose data runs from 0x200 to the
// end of its `size` bytes.
inline std::vector<std::uint8_t> MinimalDll(std::uint16_t machine, std::size_t size = 0x400) {
    std::vector<std::uint8_t> bytes(size < 0x201 ? 0x201 : size, 0);
    const auto put = [&](std::size_t at, std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    const bool pe32Plus = machine == 0x8664;
    const std::uint32_t optionalSize = pe32Plus ? 0xF0 : 0xE0;
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put(0x3C, 0x40, 4);
    bytes[0x40] = 'P';
    bytes[0x41] = 'E';
    put(0x44, machine, 2);
    put(0x46, 1, 2);  // one section
    put(0x54, optionalSize, 2);
    put(0x56, pe32Plus ? 0x2022 : 0x2102, 2);  // executable DLL (large address aware / 32-bit)
    put(0x58, pe32Plus ? 0x20B : 0x10B, 2);
    const std::size_t section = 0x58 + optionalSize;
    const auto data = static_cast<std::uint32_t>(bytes.size() - 0x200);
    bytes[section] = '.';
    bytes[section + 1] = 't';
    put(section + 8, data, 4);         // VirtualSize
    put(section + 12, 0x1000, 4);      // VirtualAddress
    put(section + 16, data, 4);        // SizeOfRawData
    put(section + 20, 0x200, 4);       // PointerToRawData
    put(section + 36, 0x60000020, 4);  // code, readable, executable
    for (std::size_t i = 0x200; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    return bytes;
}

}  // namespace morva::test
