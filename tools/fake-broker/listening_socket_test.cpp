#include "listening_socket.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <filesystem>

namespace fake_broker {
namespace {

// How many connections the kernel queues for this process's socket listening on `port`.
int ListenQueueOf(int port) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int socket = std::stoi(entry.path().filename().string());
        sockaddr_in address{};
        socklen_t length = sizeof address;
        tcp_info info{};
        socklen_t infoLength = sizeof info;
        if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &infoLength) == 0) {
            return static_cast<int>(info.tcpi_sacked);  // a listening socket's backlog
        }
    }
    return -1;
}

TEST(BindListeningSocket, QueuesABurstOfConnections) {
    httplib::Server server;
    const std::optional<int> port = BindListeningSocket(server, "127.0.0.1", 0);
    ASSERT_TRUE(port);
    EXPECT_GE(ListenQueueOf(*port), 128);
}

}  // namespace
}  // namespace fake_broker
