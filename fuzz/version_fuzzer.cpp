// Published version texts: two dotted versions (separated by a line feed) compared both ways, and
// the plain-version check that guards file names.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz_input.h"
#include "updates/version_number.h"
#include "util/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [leftText, rightText] = morva::fuzz::SplitAtLine(morva::fuzz::AsText(data, size));
    const std::string left(leftText);
    const std::string right(rightText);
    morva::fuzz::Tolerating<std::invalid_argument, std::out_of_range>([&] {
        const int forward = morva::CompareVersions(left, right);
        const int backward = morva::CompareVersions(right, left);
        // An order: antisymmetric, and every version equals itself.
        if (forward < -1 || forward > 1 || forward != -backward ||
            morva::CompareVersions(left, left) != 0) {
            __builtin_trap();
        }
    });

    const std::u16string version = morva::fuzz::AsUtf16Units(left);
    // Plain means ASCII digits and single dots only: nothing a file name could trip on.
    if (morva::IsPlainVersion(version) &&
        version.find_first_not_of(u".0123456789") != std::u16string::npos) {
        __builtin_trap();
    }
    return 0;
}
