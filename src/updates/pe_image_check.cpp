#include "updates/pe_image_check.h"

#include <cstddef>

namespace morva {

namespace {

constexpr std::size_t kLfanewOffset = 0x3C;  // IMAGE_DOS_HEADER.e_lfanew
constexpr std::size_t kFileHeaderSize = 20;  // IMAGE_FILE_HEADER
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr std::uint16_t kDll = 0x2000;              // IMAGE_FILE_DLL
constexpr std::uint16_t kPe32Magic = 0x010B;
constexpr std::uint16_t kPe32PlusMagic = 0x020B;

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(Read16(bytes, at)) |
           static_cast<std::uint32_t>(Read16(bytes, at + 2)) << 16;
}

std::string Hex(std::uint16_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += kDigits[(value >> shift) & 0xF];
    }
    return text;
}

}  // namespace

std::string PeImageDefect(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                          std::uint16_t machine) {
    if (head.size() < kLfanewOffset + 4 || head[0] != 'M' || head[1] != 'Z') {
        return "no MZ header";
    }
    const std::uint32_t lfanew = Read32(head, kLfanewOffset);
    // 64-bit sums: nothing read from the file can overflow them.
    const std::uint64_t fileHeader = std::uint64_t{lfanew} + 4;
    if (fileHeader + kFileHeaderSize + 2 > head.size()) {
        return "PE header offset out of range: " + std::to_string(lfanew);
    }
    if (head[lfanew] != 'P' || head[lfanew + 1] != 'E' || head[lfanew + 2] != 0 ||
        head[lfanew + 3] != 0) {
        return "no PE signature";
    }
    const std::size_t at = static_cast<std::size_t>(fileHeader);
    if (const std::uint16_t found = Read16(head, at); found != machine) {
        return "machine " + Hex(found) + ", not " + Hex(machine);
    }
    const std::uint16_t sections = Read16(head, at + 2);
    const std::uint16_t optionalSize = Read16(head, at + 16);
    const std::uint16_t characteristics = Read16(head, at + 18);
    if ((characteristics & (kExecutableImage | kDll)) != (kExecutableImage | kDll)) {
        return "not a DLL";
    }
    const std::uint16_t magic = machine == kMachineAmd64 ? kPe32PlusMagic : kPe32Magic;
    if (optionalSize < 2 || Read16(head, at + kFileHeaderSize) != magic) {
        return "optional header of another kind";
    }
    const std::uint64_t table = fileHeader + kFileHeaderSize + optionalSize;
    if (sections == 0 || table + std::uint64_t{sections} * kSectionHeaderSize > head.size()) {
        return "section table out of range: " + std::to_string(sections) + " sections";
    }
    for (std::uint16_t i = 0; i < sections; ++i) {
        const std::size_t section = static_cast<std::size_t>(table) + i * kSectionHeaderSize;
        const std::uint64_t end =
            std::uint64_t{Read32(head, section + 20)} + Read32(head, section + 16);
        if (end > fileSize) {
            return "cut short: " + std::to_string(fileSize) + " of " + std::to_string(end) +
                   " bytes";
        }
    }
    return {};
}

}  // namespace morva
