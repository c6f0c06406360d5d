// A raw response header block as the transport receives it, converted from UTF-8 as the libcurl
// transport does and as UTF-16 units as WinInet hands it over.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "http/http_headers.h"
#include "util/utf.h"

namespace {

void Check(const std::u16string& raw) {
    for (const auto& [name, value] : morva::ParseResponseHeaders(raw)) {
        // A name ends at the first colon and no line runs into the next.
        if (name.find(u':') != std::u16string::npos || name.find(u'\n') != std::u16string::npos ||
            value.find(u'\n') != std::u16string::npos) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = morva::fuzz::AsText(data, size);
    Check(morva::Utf8ToUtf16(std::string(bytes)));
    Check(morva::fuzz::AsUtf16Units(bytes));
    return 0;
}
