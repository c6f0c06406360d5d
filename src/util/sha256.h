#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace morva {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The SHA-256 digest (FIPS 180-4) of `bytes`.
Sha256Digest Sha256(std::string_view bytes);

}  // namespace morva
