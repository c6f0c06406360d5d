#pragma once

#include <optional>
#include <string>

namespace httplib {
class Server;
}  // namespace httplib

namespace fake_broker {

// Binds `server` to host:port (port 0: any free port) and returns the port, or nothing when it
// cannot. Unlike httplib's own bind, the socket's listen queue takes a burst of connections, and
// responses are not held back by Nagle's algorithm.
std::optional<int> BindListeningSocket(httplib::Server& server, const std::string& host, int port);

}  // namespace fake_broker
