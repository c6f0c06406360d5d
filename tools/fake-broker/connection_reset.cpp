#include "connection_reset.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace fake_broker {
namespace {

struct DirectoryCloser {
    void operator()(DIR* directory) const noexcept { closedir(directory); }
};

int PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    }
    return -1;
}

bool Connects(int fd, int localPort, int remotePort) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode)) {
        return false;
    }
    sockaddr_storage local{}, remote{};
    socklen_t localSize = sizeof local, remoteSize = sizeof remote;
    return getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 &&
           getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteSize) == 0 &&
           PortOf(local) == localPort && PortOf(remote) == remotePort;
}

}  // namespace

bool ResetConnection(int localPort, int remotePort) {
    // httplib does not hand its sockets to handlers; the two ports name the connection.
    const std::unique_ptr<DIR, DirectoryCloser> directory(opendir("/proc/self/fd"));
    if (!directory) {
        return false;
    }
    while (const dirent* entry = readdir(directory.get())) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' ||
            !Connects(static_cast<int>(fd), localPort, remotePort)) {
            continue;
        }
        // Nothing queued may leave with a FIN later, and disconnecting a TCP socket (connect to
        // AF_UNSPEC) sends the RST now without closing a descriptor that httplib still owns.
        const linger abort{1, 0};
        setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        sockaddr unspecified{};
        unspecified.sa_family = AF_UNSPEC;
        return connect(static_cast<int>(fd), &unspecified, sizeof unspecified) == 0;
    }
    return false;
}

}  // namespace fake_broker
