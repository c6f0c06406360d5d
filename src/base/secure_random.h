#pragma once

#include <cstddef>

namespace morva {

// Fills `size` bytes at `data` from the operating system's cryptographic generator. Throws
// MorvaError when the generator fails; never returns fewer bytes.
void FillSecureRandom(void* data, std::size_t size);

}  // namespace morva
