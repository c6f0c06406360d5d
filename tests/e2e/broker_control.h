#pragma once

#include <string>

namespace morva {

// One request to the fake broker's plain-HTTP control API (127.0.0.1:8099 inside the sandbox),
// over a bare socket: the library's transports speak only HTTPS, and a test must change the
// broker's behaviour in the middle of a session. Returns the body; throws std::runtime_error
// unless the status is 2xx.
std::string SendToBroker(const std::string& method, const std::string& path,
                         const std::string& body = {});

}  // namespace morva
