#include "host/execute_dll.h"

#include <algorithm>
#include <string>

#include "util/utf.h"

namespace morva::frame {

namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

void WriteError(char16_t* error, std::string_view text) noexcept {
    if (error == nullptr) {
        return;  // the indicator broke its contract; losing the text beats a crash
    }
    std::u16string wide;
    try {
        wide = Utf8ToUtf16(std::string(text));
    } catch (...) {
        // Out of memory or an unconvertible text: its bytes, one unit each, still tell something.
        const std::size_t count = std::min(text.size(), kTerminalTextSize - 1);
        std::transform(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count), error,
                       [](char c) { return static_cast<char16_t>(static_cast<unsigned char>(c)); });
        error[count] = u'\0';
        return;
    }
    WriteError(error, std::u16string_view(wide));
}

void WriteError(char16_t* error, std::u16string_view text) noexcept {
    if (error == nullptr) {
        return;
    }
    std::size_t count = std::min(text.size(), kTerminalTextSize - 1);
    // Never leave half of a surrogate pair at the cut: the terminal would show garbage.
    if (count < text.size() && count > 0 && IsHighSurrogate(text[count - 1])) {
        --count;
    }
    std::copy_n(text.data(), count, error);
    error[count] = u'\0';
}

}  // namespace morva::frame
