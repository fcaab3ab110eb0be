// Sockets that a test opens on the loopback addresses so that the report must list them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lystrel_test {

/// One open socket: a TCP listener or a bound UDP socket on 127.0.0.1 or ::1.
struct LoopbackSocket {
    bool ipv6 = false;
    bool tcp = false;
    std::uint16_t port = 0;  // the ephemeral port the system chose
    int fd = -1;
};

/// Opens sockets and closes them when it goes away.
class LoopbackSockets {
public:
    LoopbackSockets() = default;
    LoopbackSockets(const LoopbackSockets&) = delete;
    LoopbackSockets& operator=(const LoopbackSockets&) = delete;
    ~LoopbackSockets();

    /// Opens a TCP listener or a UDP socket on the loopback address of the family,
    /// bound to port 0. Returns an empty text on success, else why it failed, and
    /// then sets *error to the failing call's errno.
    std::string Open(bool ipv6, bool tcp, int* error);

    const std::vector<LoopbackSocket>& Sockets() const { return sockets; }

private:
    std::vector<LoopbackSocket> sockets;
};

}  // namespace lystrel_test
