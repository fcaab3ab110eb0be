#include "loopback_sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lystrel::test {
namespace {

// Closes fd and keeps the errno of the failure that led here.
void CloseKeepingErrno(int fd) {
    const int error = errno;
    close(fd);
    errno = error;
}

LoopbackSocket OpenBound(bool ipv6, int type, bool listening, const char* device) {
    LoopbackSocket result;
    const int fd = socket(ipv6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return result;
    if (device != nullptr && setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device, std::strlen(device) + 1) != 0) {
        CloseKeepingErrno(fd);
        return result;
    }
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof storage);
    socklen_t length;
    if (ipv6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_loopback;
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *address;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || (listening && listen(fd, 4) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        CloseKeepingErrno(fd);
        return result;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        CloseKeepingErrno(fd);
        return result;
    }
    result.fd = fd;
    result.inode = status.st_ino;
    result.port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                             : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return result;
}

}  // namespace

LoopbackSocket OpenTcpListener(bool ipv6, const char* device) { return OpenBound(ipv6, SOCK_STREAM, true, device); }
LoopbackSocket OpenUdpSocket(bool ipv6, const char* device) { return OpenBound(ipv6, SOCK_DGRAM, false, device); }
LoopbackSocket OpenTcpBound(bool ipv6) { return OpenBound(ipv6, SOCK_STREAM, false, nullptr); }

void CloseSocket(LoopbackSocket& socket) {
    if (socket.fd >= 0) close(socket.fd);
    socket.fd = -1;
}

}  // namespace lystrel::test
