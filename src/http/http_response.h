#pragma once

#include <cstdint>
#include <string>

#include "http/http_headers.h"

namespace morva {

struct HttpResponse {
    std::int32_t status = 0;
    HttpHeaders headers;
    std::string body;  // raw bytes; text bodies are UTF-8
};

}  // namespace morva
