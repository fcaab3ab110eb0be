// Loopback sockets on ephemeral ports: bind port 0, then ask for the port.
#include "loopback_sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lystrel_test {

LoopbackSockets::~LoopbackSockets() {
    for (const LoopbackSocket& socket : sockets) {
        close(socket.fd);
    }
}

std::string LoopbackSockets::Open(bool ipv6, bool tcp, int* error) {
    LoopbackSocket opened;
    opened.ipv6 = ipv6;
    opened.tcp = tcp;
    opened.fd = socket(ipv6 ? AF_INET6 : AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    const char* name = ipv6 ? (tcp ? "TCP [::1]" : "UDP [::1]") : (tcp ? "TCP 127.0.0.1" : "UDP 127.0.0.1");
    if (opened.fd < 0) {
        *error = errno;
        return std::string(name) + ": socket: " + std::strerror(errno);
    }
    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipv6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *in4;
    }
    std::string failure;
    if (bind(opened.fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        failure = std::string(name) + ": bind: " + std::strerror(errno);
    } else if (tcp && listen(opened.fd, 4) != 0) {
        failure = std::string(name) + ": listen: " + std::strerror(errno);
    } else if (getsockname(opened.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        failure = std::string(name) + ": getsockname: " + std::strerror(errno);
    }
    if (!failure.empty()) {
        *error = errno;
        close(opened.fd);
        return failure;
    }
    opened.port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                             : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    sockets.push_back(opened);
    return {};
}

}  // namespace lystrel_test
