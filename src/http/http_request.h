#pragma once

#include <cstdint>
#include <string>

#include "http/http_headers.h"

namespace morva {

struct HttpRequest {
    std::u16string host;  // host name only: no scheme, port or path
    std::uint16_t port = 443;
    std::u16string path;  // the request target as it goes on the request line, query included
    HttpHeaders headers;  // sent in the map's order
    std::string body;     // sent byte for byte; empty for none
};

}  // namespace morva
