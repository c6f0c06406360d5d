#pragma once

#include <string>
#include <string_view>

namespace morva {

// Decodes one Base64url segment of a token: "-" and "_" stand for "+" and "/", padding is
// optional, any other character is refused. Throws MorvaError, "Non-positive Base64 decoded size"
// for an empty segment.
std::string DecodeBase64Url(std::string_view encoded);

// Base64url without padding (RFC 4648, section 5), as token segments and PKCE write it.
std::string EncodeBase64Url(std::string_view bytes);

}  // namespace morva
