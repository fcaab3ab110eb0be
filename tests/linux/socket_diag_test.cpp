// The netlink reply parser on built buffers, and one live dump.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "loopback_sockets.h"
#include "socket_diag.h"

namespace {

using namespace lystrel::layer;

// Appends one netlink message with the given body, padded to 4 bytes.
void AppendMessage(std::vector<uint8_t>& buffer, uint16_t type, const void* body, size_t bodySize) {
    nlmsghdr header;
    std::memset(&header, 0, sizeof header);
    header.nlmsg_len = static_cast<uint32_t>(sizeof header + bodySize);
    header.nlmsg_type = type;
    const size_t at = buffer.size();
    buffer.resize(at + NLMSG_ALIGN(header.nlmsg_len), 0);
    std::memcpy(&buffer[at], &header, sizeof header);
    if (bodySize) std::memcpy(&buffer[at + sizeof header], body, bodySize);
}

inet_diag_msg Message(uint8_t family, uint8_t state, uint16_t port, uint32_t inode, uint32_t interfaceIndex) {
    inet_diag_msg message;
    std::memset(&message, 0, sizeof message);
    message.idiag_family = family;
    message.idiag_state = state;
    message.id.idiag_sport = htons(port);
    message.id.idiag_dport = htons(9);
    message.id.idiag_if = interfaceIndex;
    message.idiag_inode = inode;
    if (family == AF_INET) {
        const uint8_t address[4] = {127, 0, 0, 1};
        std::memcpy(message.id.idiag_src, address, 4);
    } else {
        const uint8_t address[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        std::memcpy(message.id.idiag_src, address, 16);
    }
    return message;
}

TEST(ParseSocketDiagReply, ReadsMessagesUntilDone) {
    std::vector<uint8_t> buffer;
    const inet_diag_msg v4 = Message(AF_INET, 10, 8080, 4242, 0);
    const inet_diag_msg v6 = Message(AF_INET6, 10, 443, 77, 3);
    const inet_diag_msg established = Message(AF_INET, 1, 1, 5, 0);
    AppendMessage(buffer, SOCK_DIAG_BY_FAMILY, &v4, sizeof v4);
    AppendMessage(buffer, SOCK_DIAG_BY_FAMILY, &established, sizeof established);
    AppendMessage(buffer, SOCK_DIAG_BY_FAMILY, &v6, sizeof v6);
    int zero = 0;
    AppendMessage(buffer, NLMSG_DONE, &zero, sizeof zero);

    std::vector<KernelSocket> sockets;
    ASSERT_EQ(DiagReplyStatus::Done, ParseSocketDiagReply(buffer.data(), buffer.size(), SocketProtocol::TCP, sockets));
    ASSERT_EQ(2u, sockets.size());  // the established one is not a listener
    EXPECT_EQ(SocketFamily::IPv4, sockets[0].family);
    EXPECT_EQ(8080, sockets[0].port);
    EXPECT_EQ(4242u, sockets[0].inode);
    const uint8_t loopback[4] = {127, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(loopback, sockets[0].address, 4));
    EXPECT_EQ(SocketFamily::IPv6, sockets[1].family);
    EXPECT_EQ(3u, sockets[1].interfaceIndex);
    EXPECT_EQ(0xfe, sockets[1].address[0]);
    EXPECT_EQ(1, sockets[1].address[15]);
}

TEST(ParseSocketDiagReply, UdpKeepsEveryStateAndAskesForMore) {
    std::vector<uint8_t> buffer;
    const inet_diag_msg unconnected = Message(AF_INET, 7, 53, 1, 0);
    const inet_diag_msg connected = Message(AF_INET, 1, 54, 2, 0);
    AppendMessage(buffer, SOCK_DIAG_BY_FAMILY, &unconnected, sizeof unconnected);
    AppendMessage(buffer, SOCK_DIAG_BY_FAMILY, &connected, sizeof connected);
    std::vector<KernelSocket> sockets;
    EXPECT_EQ(DiagReplyStatus::More, ParseSocketDiagReply(buffer.data(), buffer.size(), SocketProtocol::UDP, sockets));
    EXPECT_EQ(2u, sockets.size());
}

TEST(ParseSocketDiagReply, MalformedBuffersFailWithoutReadingPastThem) {
    const inet_diag_msg v4 = Message(AF_INET, 10, 80, 1, 0);
    std::vector<uint8_t> good;
    AppendMessage(good, SOCK_DIAG_BY_FAMILY, &v4, sizeof v4);

    struct Case {
        const char* name;
        std::vector<uint8_t> buffer;
    };
    std::vector<Case> cases;
    // Every truncation of a good message (but the empty one) is malformed.
    for (size_t length = 1; length < good.size(); ++length)
        cases.push_back({"truncated", std::vector<uint8_t>(good.begin(), good.begin() + length)});
    {
        std::vector<uint8_t> buffer = good;
        const uint32_t tooLong = static_cast<uint32_t>(buffer.size() + 4);
        std::memcpy(buffer.data(), &tooLong, 4);
        cases.push_back({"length past the end", buffer});
    }
    {
        std::vector<uint8_t> buffer = good;
        const uint32_t tooShort = 4;
        std::memcpy(buffer.data(), &tooShort, 4);
        cases.push_back({"length below a header", buffer});
    }
    {
        std::vector<uint8_t> buffer;
        AppendMessage(buffer, SOCK_DIAG_BY_FAMILY, &v4, sizeof v4 - 1);
        cases.push_back({"short body", buffer});
    }
    {
        std::vector<uint8_t> buffer;
        const int error = -ENOENT;
        AppendMessage(buffer, NLMSG_ERROR, &error, sizeof error);
        cases.push_back({"error message", buffer});
    }
    {
        std::vector<uint8_t> buffer;
        AppendMessage(buffer, NLMSG_ERROR, &v4, 2);
        cases.push_back({"short error message", buffer});
    }
    {
        std::vector<uint8_t> buffer;
        AppendMessage(buffer, 0x7777, &v4, sizeof v4);
        cases.push_back({"unknown message type", buffer});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SCOPED_TRACE(c.buffer.size());
        // A heap copy of exactly the case's size, so that any overread is caught by sanitizers.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[c.buffer.size()]);
        std::memcpy(exact.get(), c.buffer.data(), c.buffer.size());
        std::vector<KernelSocket> sockets;
        EXPECT_EQ(DiagReplyStatus::Failed,
                  ParseSocketDiagReply(exact.get(), c.buffer.size(), SocketProtocol::TCP, sockets));
        EXPECT_TRUE(sockets.empty());
    }
}

TEST(ParseSocketDiagReply, UnknownFamiliesAreSkipped) {
    std::vector<uint8_t> buffer;
    const inet_diag_msg local = Message(AF_UNIX, 10, 80, 1, 0);
    AppendMessage(buffer, SOCK_DIAG_BY_FAMILY, &local, sizeof local);
    std::vector<KernelSocket> sockets;
    EXPECT_EQ(DiagReplyStatus::More, ParseSocketDiagReply(buffer.data(), buffer.size(), SocketProtocol::TCP, sockets));
    EXPECT_TRUE(sockets.empty());
}

TEST(DumpKernelSockets, FindsOurListenerAndUdpSocket) {
    lystrel::test::LoopbackSocket listener = lystrel::test::OpenTcpListener(false);
    lystrel::test::LoopbackSocket udp = lystrel::test::OpenUdpSocket(true);
    ASSERT_GE(listener.fd, 0);
    ASSERT_GE(udp.fd, 0);
    std::vector<KernelSocket> sockets;
    if (!DumpKernelSockets(SocketFamily::IPv4, SocketProtocol::TCP, sockets))
        GTEST_SKIP() << "socket diagnostics over netlink are not available here";
    auto found = std::find_if(sockets.begin(), sockets.end(),
                              [&](const KernelSocket& s) { return s.inode == listener.inode; });
    ASSERT_NE(sockets.end(), found);
    EXPECT_EQ(listener.port, found->port);
    EXPECT_EQ(SocketFamily::IPv4, found->family);

    ASSERT_TRUE(DumpKernelSockets(SocketFamily::IPv6, SocketProtocol::UDP, sockets));
    found = std::find_if(sockets.begin(), sockets.end(), [&](const KernelSocket& s) { return s.inode == udp.inode; });
    ASSERT_NE(sockets.end(), found);
    EXPECT_EQ(udp.port, found->port);
    EXPECT_EQ(1, found->address[15]);
    for (const KernelSocket& s : sockets) EXPECT_EQ(SocketFamily::IPv6, s.family);
    lystrel::test::CloseSocket(listener);
    lystrel::test::CloseSocket(udp);
}

}  // namespace
