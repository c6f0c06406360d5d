#include "listening_socket.h"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <memory>

namespace fake_broker {

std::optional<int> BindListeningSocket(httplib::Server& server, const std::string& host, int port) {
    // httplib hands the socket only to this hook, before it binds and listens.
    auto socket = std::make_shared<socket_t>(INVALID_SOCKET);
    server.set_socket_options([socket](socket_t created) {
        *socket = created;
        const int on = 1;
        setsockopt(created, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        // Headers and body leave in separate writes; without TCP_NODELAY every response on a
        // kept-alive connection waits for the client's delayed ACK (40 ms on Linux). Accepted
        // sockets inherit it.
        setsockopt(created, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    });
    const int bound = port == 0 ? server.bind_to_any_port(host.c_str())
                                : (server.bind_to_port(host.c_str(), port) ? port : -1);
    if (bound <= 0) {
        return std::nullopt;
    }
    // httplib listens with a backlog of 5. Test programs side by side, under sanitizers or Wine,
    // connect faster than it accepts: an overflowing queue drops handshakes, and clients meet
    // resets and stalls the library never sees from a real server. Listening again resizes it.
    if (::listen(*socket, SOMAXCONN) != 0) {
        return std::nullopt;
    }
    return bound;
}

}  // namespace fake_broker
