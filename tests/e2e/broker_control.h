#pragma once

#include <string>

namespace morva {

// The fake broker's plain-HTTP control API (127.0.0.1:8099 inside the sandbox), reached over a bare
// socket: the library's transports speak only HTTPS, and a test must change the broker's behaviour
// in the middle of a session.
class BrokerControl {
  public:
    // Sends one request and returns the body; throws std::runtime_error unless the status is 2xx.
    std::string Send(const std::string& method, const std::string& path,
                     const std::string& body = {});
};

}  // namespace morva
