#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/morva_error.h"

namespace morva {

// The calling thread's last system error (GetLastError on Windows, errno elsewhere) as the
// system's message followed directly by "[code]"; empty when the code is 0. Leaves the last
// error as it found it, so callers may read it again.
std::string LastErrorText();

// A call that failed through the last error: "<operation> failed. <text>".
[[noreturn]] inline void ThrowLastError(const char* operation) {
    const std::string text = LastErrorText();  // before anything else can overwrite the error
    throw MorvaError("%s failed. %s", operation, text);
}

// A call that failed with a 32-bit status: "<operation> failed (0x%08X)".
[[noreturn]] inline void ThrowStatus(const char* operation, std::uint32_t status) {
    throw MorvaError("%s failed (0x%08X)", operation, status);
}

// For calls with an error code and text of their own (curl, errno values):
// "<operation> failed. <text>[<code>]".
[[noreturn]] inline void ThrowCode(const char* operation, std::string_view text, long code) {
    throw MorvaError("%s failed. %s[%ld]", operation, text, code);
}

}  // namespace morva
