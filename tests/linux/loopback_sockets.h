// Real loopback sockets for the live tests, behind a header free of host
// socket declarations (the Win32 declarations clash with them).
#pragma once

#include <cstdint>

namespace lystrel::test {

/// A socket bound to 127.0.0.1 (ipv6 false) or ::1 on an ephemeral port.
struct LoopbackSocket {
    int fd = -1;
    uint16_t port = 0;
    uint64_t inode = 0;
};

/// A TCP socket listening on the loopback address; with `device`, bound to
/// that network device first. fd stays -1 on failure, with errno set.
LoopbackSocket OpenTcpListener(bool ipv6, const char* device = nullptr);
/// A bound UDP socket on the loopback address; `device` as above.
LoopbackSocket OpenUdpSocket(bool ipv6, const char* device = nullptr);
/// A bound TCP socket that does not listen.
LoopbackSocket OpenTcpBound(bool ipv6);
void CloseSocket(LoopbackSocket& socket);

}  // namespace lystrel::test
