#include <sys/random.h>

#include <cerrno>
#include <cstddef>

#include "base/last_error.h"
#include "base/secure_random.h"

namespace morva {

void FillSecureRandom(void* data, std::size_t size) {
    auto* out = static_cast<unsigned char*>(data);
    while (size > 0) {
        // Large requests may come back short, and a signal may interrupt one.
        const ssize_t count = getrandom(out, size, 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            ThrowLastError("Read system random generator");
        }
        out += count;
        size -= static_cast<std::size_t>(count);
    }
}

}  // namespace morva
