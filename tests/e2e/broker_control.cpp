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

class Connection {
  public:
    explicit Connection(int port) : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        if (socket_ == kNoSocket) {
            throw std::runtime_error("broker control: no socket");
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<unsigned short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            CloseSocket(socket_);
            throw std::runtime_error("broker control: cannot connect to port " +
                                     std::to_string(port));
        }
    }
    ~Connection() { CloseSocket(socket_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void SendAll(const std::string& data) {
        for (std::size_t sent = 0; sent < data.size();) {
            const auto n =
                ::send(socket_, data.data() + sent, static_cast<int>(data.size() - sent), 0);
            if (n <= 0) {
                throw std::runtime_error("broker control: send failed");
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    std::string ReceiveAll() {
        std::string data;
        char buffer[4096];
        for (;;) {
            const auto n = ::recv(socket_, buffer, sizeof buffer, 0);
            if (n < 0) {
                throw std::runtime_error("broker control: receive failed");
            }
            if (n == 0) {
                return data;
            }
            data.append(buffer, static_cast<std::size_t>(n));
        }
    }

  private:
    Socket socket_;
};

#ifdef _WIN32
struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            throw std::runtime_error("broker control: WSAStartup failed");
        }
    }
    ~WinsockSession() { WSACleanup(); }
};
#endif

}  // namespace

BrokerControl::BrokerControl(int port) : port_(port) {
#ifdef _WIN32
    static const WinsockSession session;
#endif
}

BrokerControl::~BrokerControl() = default;

std::string BrokerControl::Send(const std::string& method, const std::string& path,
                                const std::string& body) {
    Connection connection(port_);
    // HTTP/1.0 and Connection: close, so the answer ends where the socket does.
    connection.SendAll(
        method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body);
    const std::string response = connection.ReceiveAll();
    const auto space = response.find(' ');
    const auto headerEnd = response.find("\r\n\r\n");
    if (space == std::string::npos || headerEnd == std::string::npos) {
        throw std::runtime_error("broker control: malformed answer to " + method + " " + path);
    }
    const std::string answer = response.substr(headerEnd + 4);
    if (response.compare(space + 1, 1, "2") != 0) {
        throw std::runtime_error("broker control: " + method + " " + path + " answered " +
                                 response.substr(space + 1, 3) + ": " + answer);
    }
    return answer;
}

}  // namespace morva
