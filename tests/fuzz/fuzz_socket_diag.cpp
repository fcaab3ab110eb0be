// Feeds arbitrary received buffers to the parser of netlink socket
// diagnostics replies. The first byte picks the protocol; the rest is the
// buffer as recv filled it, copied into a heap block of exactly its size so
// that any read past its end is caught.
#include <linux/inet_diag.h>
#include <linux/netlink.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "socket_diag.h"

using namespace lystrel::layer;

namespace {

bool SameSocket(const KernelSocket& a, const KernelSocket& b) {
    return a.family == b.family && a.protocol == b.protocol && a.state == b.state &&
           std::memcmp(a.address, b.address, sizeof a.address) == 0 && a.port == b.port &&
           a.interfaceIndex == b.interfaceIndex && a.inode == b.inode;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const SocketProtocol protocol = data[0] & 1 ? SocketProtocol::UDP : SocketProtocol::TCP;
    const size_t length = size - 1;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[length]);
    if (length > 0) std::memcpy(buffer.get(), data + 1, length);

    // Sockets already in the vector stay as they are; new ones are appended.
    KernelSocket earlier;
    earlier.inode = 7;
    std::vector<KernelSocket> sockets{earlier};
    const DiagReplyStatus status = ParseSocketDiagReply(buffer.get(), length, protocol, sockets);
    if (sockets.empty() || !SameSocket(sockets.front(), earlier)) __builtin_trap();

    // Each socket takes at least a header and a message body.
    constexpr size_t kSmallestMessage = sizeof(nlmsghdr) + sizeof(inet_diag_msg);
    if (sockets.size() - 1 > length / kSmallestMessage) __builtin_trap();
    for (size_t index = 1; index < sockets.size(); ++index) {
        const KernelSocket& socket = sockets[index];
        if (socket.protocol != protocol) __builtin_trap();
        if (socket.family != SocketFamily::IPv4 && socket.family != SocketFamily::IPv6) __builtin_trap();
        if (protocol == SocketProtocol::TCP && socket.state != kKernelStateListen) __builtin_trap();
        // An IPv4 socket carries only the 4 bytes of its address.
        if (socket.family == SocketFamily::IPv4)
            for (size_t byte = 4; byte < sizeof socket.address; ++byte)
                if (socket.address[byte] != 0) __builtin_trap();
    }

    // The same buffer parses the same way again.
    std::vector<KernelSocket> again;
    if (ParseSocketDiagReply(buffer.get(), length, protocol, again) != status) __builtin_trap();
    if (again.size() + 1 != sockets.size()) __builtin_trap();
    for (size_t index = 0; index < again.size(); ++index)
        if (!SameSocket(again[index], sockets[index + 1])) __builtin_trap();
    return 0;
}
