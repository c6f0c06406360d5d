#include <windows.h>
// After windows.h, which bcrypt.h needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "base/last_error.h"
#include "base/secure_random.h"

namespace morva {

void FillSecureRandom(void* data, std::size_t size) {
    auto* out = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ULONG chunk =
            static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
        const NTSTATUS status =
            BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0) {
            ThrowStatus("Read system random generator", static_cast<std::uint32_t>(status));
        }
        out += chunk;
        size -= chunk;
    }
}

}  // namespace morva
