#pragma once

#include <string>
#include <string_view>

#include "auth/base64.h"

namespace morva::test {

// An unsigned token whose header and payload are the given JSON texts.
inline std::string MakeJwt(std::string_view payload,
                           std::string_view header = R"({"alg":"RS256","typ":"JWT"})") {
    return EncodeBase64Url(header) + "." + EncodeBase64Url(payload) + ".c2lnbmF0dXJl";
}

}  // namespace morva::test
