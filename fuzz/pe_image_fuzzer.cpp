// Downloaded and installed libraries: the portable PE header check that decides whether bytes
// from the file server become a library in the terminal's folder, on whole files and on heads.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "updates/pe_image_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const std::string amd64 = morva::PeImageDefect(bytes, size, morva::kMachineAmd64);
    const std::string i386 = morva::PeImageDefect(bytes, size, morva::kMachineI386);
    // One machine per image, and only what starts as a DLL passes.
    if ((amd64.empty() && i386.empty()) ||
        ((amd64.empty() || i386.empty()) && (size < 2 || data[0] != 'M' || data[1] != 'Z'))) {
        __builtin_trap();
    }
    // A head judged against a larger file: never read beyond the head.
    morva::PeImageDefect(bytes.first(size / 2), std::uint64_t{size} * 2, morva::kMachineAmd64);
    return 0;
}
