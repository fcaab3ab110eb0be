// A socket as the Linux kernel describes it, in a form that depends on no
// host header, so that both the kernel readers and the Win32 tables use it.
#pragma once

#include <cstdint>

namespace lystrel::layer {

enum class SocketFamily : uint8_t { IPv4, IPv6 };
enum class SocketProtocol : uint8_t { TCP, UDP };

/// The TCP state number the kernel gives a listening socket.
constexpr uint8_t kKernelStateListen = 10;

/// One local socket of the kernel's tables.
struct KernelSocket {
    SocketFamily family = SocketFamily::IPv4;
    SocketProtocol protocol = SocketProtocol::TCP;
    /// The kernel's state number (TCP numbering, also used for UDP).
    uint8_t state = 0;
    /// Network byte order; IPv4 uses the first 4 bytes.
    uint8_t address[16] = {};
    /// Host byte order.
    uint16_t port = 0;
    /// The interface the socket is bound to, 0 for none.
    uint32_t interfaceIndex = 0;
    /// The socket's inode number, which names it in /proc/PID/fd.
    uint64_t inode = 0;
};

}  // namespace lystrel::layer
