#pragma once

#include <string>
#include <string_view>

namespace morva {

// Decodes one Base64url segment of a token: "-" and "_" stand for "+" and "/", padding is
// optional, any other character is refused. Throws MorvaError, "Non-positive Base64 decoded size"
// for an empty segment.
std::string DecodeBase64Url(std::string_view encoded);

}  // namespace morva
