#include "updates/replacement_file.h"

#include <atomic>
#include <random>

#include "base/morva_error.h"
#include "util/utf.h"

namespace morva {

namespace replacement_file_detail {

std::u16string TemporaryName(const std::u16string& target) {
    // The counter keeps names of one process apart should the random source be weak; the file is
    // created exclusively all the same.
    static constinit std::atomic<std::uint32_t> counter{0};
    std::random_device random;
    std::uint64_t value = (std::uint64_t{random()} << 32 | random()) + counter.fetch_add(1);
    std::u16string name = target + u'.';
    for (int digit = 0; digit < 16; ++digit, value >>= 4) {
        name += u"0123456789abcdef"[value & 0xF];
    }
    return name + u".tmp";
}

}  // namespace replacement_file_detail

void ReplacementFile::Fail(unsigned long code) const {
    throw MorvaError("Error occurred while writing to: %s [%lu]", Utf16ToUtf8(target_), code);
}

}  // namespace morva
