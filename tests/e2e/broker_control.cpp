#include "broker_control.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <stdexcept>

namespace morva {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket socket) {
    closesocket(socket);
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket socket) {
    close(socket);
}
#endif

constexpr unsigned short kControlPort = 8099;

// A socket closed however the exchange ends.
struct Connection {
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (socket != kNoSocket) {
            CloseSocket(socket);
        }
    }
    Socket socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
};

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("broker control: " + what);
}

}  // namespace

std::string BrokerControl::Send(const std::string& method, const std::string& path,
                                const std::string& body) {
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) {
        Fail("WSAStartup failed");
    }
#endif
    const Connection connection;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kControlPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connection.socket == kNoSocket ||
        ::connect(connection.socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0) {
        Fail("cannot connect to port " + std::to_string(kControlPort));
    }
    // HTTP/1.0 and Connection: close, so the answer ends where the socket does.
    const std::string request =
        method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        const auto n = ::send(connection.socket, request.data() + sent,
                              static_cast<int>(request.size() - sent), 0);
        if (n <= 0) {
            Fail("send failed");
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string response;
    char buffer[4096];
    for (auto n = ::recv(connection.socket, buffer, sizeof buffer, 0); n != 0;
         n = ::recv(connection.socket, buffer, sizeof buffer, 0)) {
        if (n < 0) {
            Fail("receive failed");
        }
        response.append(buffer, static_cast<std::size_t>(n));
    }
    const auto space = response.find(' ');
    const auto headerEnd = response.find("\r\n\r\n");
    if (space == std::string::npos || headerEnd == std::string::npos) {
        Fail("malformed answer to " + method + " " + path);
    }
    const std::string answer = response.substr(headerEnd + 4);
    if (response.compare(space + 1, 1, "2") != 0) {
        Fail(method + " " + path + " answered " + response.substr(space + 1, 3) + ": " + answer);
    }
    return answer;
}

}  // namespace morva
