// Reads the kernel's socket tables through the socket diagnostics of netlink.
#include "socket_diag.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "fault_injection.h"

namespace lystrel::layer {
namespace {

constexpr uint32_t kAllStates = 0xFFFFFFFFu;
constexpr size_t kReceiveBufferSize = 64 * 1024;

// Closes a file descriptor when it goes out of scope.
struct ScopedDescriptor {
    int fd;
    explicit ScopedDescriptor(int descriptor) : fd(descriptor) {}
    ~ScopedDescriptor() {
        if (fd >= 0) close(fd);
    }
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
};

// Turns the body of one SOCK_DIAG_BY_FAMILY message into a socket; false for
// a family other than IPv4 or IPv6.
bool SocketFromMessage(const inet_diag_msg& message, SocketProtocol protocol, KernelSocket& socket) {
    if (message.idiag_family == AF_INET) {
        socket.family = SocketFamily::IPv4;
        std::memcpy(socket.address, message.id.idiag_src, 4);
    } else if (message.idiag_family == AF_INET6) {
        socket.family = SocketFamily::IPv6;
        std::memcpy(socket.address, message.id.idiag_src, 16);
    } else {
        return false;
    }
    socket.protocol = protocol;
    socket.state = message.idiag_state;
    socket.port = ntohs(message.id.idiag_sport);
    socket.interfaceIndex = message.id.idiag_if;
    socket.inode = message.idiag_inode;
    return true;
}

bool SendDumpRequest(int fd, SocketFamily family, SocketProtocol protocol) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message;
    std::memset(&message, 0, sizeof message);
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = 1;
    message.request.sdiag_family = family == SocketFamily::IPv4 ? AF_INET : AF_INET6;
    message.request.sdiag_protocol = protocol == SocketProtocol::TCP ? IPPROTO_TCP : IPPROTO_UDP;
    // TCP: listeners only. UDP: every socket, connected ones included.
    message.request.idiag_states =
        protocol == SocketProtocol::TCP ? (1u << kKernelStateListen) : kAllStates;
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel;
    std::memset(&kernel, 0, sizeof kernel);
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        ssize_t sent = Faulted(Fault::NetlinkSend)
                           ? -1
                           : sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                                    sizeof kernel);
        if (sent == static_cast<ssize_t>(sizeof message)) return true;
        if (sent < 0 && errno == EINTR) continue;
        return false;
    }
}

}  // namespace

DiagReplyStatus ParseSocketDiagReply(const uint8_t* data, size_t size, SocketProtocol protocol,
                                     std::vector<KernelSocket>& sockets) {
    if (data == nullptr) return DiagReplyStatus::Failed;
    size_t offset = 0;
    while (size - offset >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, data + offset, sizeof header);
        const size_t length = header.nlmsg_len;
        if (length < sizeof header || length > size - offset) return DiagReplyStatus::Failed;
        const uint8_t* body = data + offset + sizeof header;
        const size_t bodySize = length - sizeof header;

        switch (header.nlmsg_type) {
        case NLMSG_DONE:
            return DiagReplyStatus::Done;
        case NLMSG_ERROR: {
            // An error code of 0 is an acknowledgement; anything else ends the dump.
            nlmsgerr error;
            if (bodySize < sizeof error.error) return DiagReplyStatus::Failed;
            std::memcpy(&error.error, body, sizeof error.error);
            if (error.error != 0) return DiagReplyStatus::Failed;
            break;
        }
        case NLMSG_NOOP:
            break;
        case SOCK_DIAG_BY_FAMILY: {
            inet_diag_msg message;
            if (bodySize < sizeof message) return DiagReplyStatus::Failed;
            std::memcpy(&message, body, sizeof message);
            KernelSocket socket;
            if (SocketFromMessage(message, protocol, socket) &&
                (protocol != SocketProtocol::TCP || socket.state == kKernelStateListen))
                sockets.push_back(socket);
            break;
        }
        default:
            return DiagReplyStatus::Failed;
        }
        // Messages are padded to 4 bytes; the last one may lack its padding.
        const size_t aligned = NLMSG_ALIGN(length);
        if (aligned >= size - offset) return DiagReplyStatus::More;
        offset += aligned;
    }
    // A trailing fragment shorter than a header is malformed.
    return offset == size ? DiagReplyStatus::More : DiagReplyStatus::Failed;
}

bool DumpKernelSockets(SocketFamily family, SocketProtocol protocol, std::vector<KernelSocket>& sockets) {
    sockets.clear();
    ScopedDescriptor netlink(Faulted(Fault::NetlinkSocket)
                                 ? -1
                                 : socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (netlink.fd < 0) return false;
    if (!SendDumpRequest(netlink.fd, family, protocol)) return false;

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReceiveBufferSize]);
    for (;;) {
        // MSG_TRUNC makes recv return the datagram's full length, so a
        // datagram larger than the buffer is noticed rather than cut short.
        ssize_t received = Faulted(Fault::NetlinkReceive)
                               ? -1
                               : recv(netlink.fd, buffer.get(), kReceiveBufferSize, MSG_TRUNC);
        if (received < 0) {
            if (errno == EINTR) continue;
            sockets.clear();
            return false;
        }
        if (received == 0 || static_cast<size_t>(received) > kReceiveBufferSize) {
            sockets.clear();
            return false;
        }
        switch (ParseSocketDiagReply(buffer.get(), static_cast<size_t>(received), protocol, sockets)) {
        case DiagReplyStatus::More:
            continue;
        case DiagReplyStatus::Done:
            // Only the family asked for belongs in the table.
            sockets.erase(std::remove_if(sockets.begin(), sockets.end(),
                                         [family](const KernelSocket& s) { return s.family != family; }),
                          sockets.end());
            return true;
        case DiagReplyStatus::Failed:
            sockets.clear();
            return false;
        }
    }
}

}  // namespace lystrel::layer
