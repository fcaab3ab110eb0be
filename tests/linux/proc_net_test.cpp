// The /proc/net socket table parser.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "proc_net.h"

namespace {

using namespace lystrel::layer;

TEST(ParseProcNetLine, IPv4ListenerLine) {
    const auto socket = ParseProcNetLine(
        "   0: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 12345 1 "
        "0000000000000000 100 0 0 10 0",
        SocketFamily::IPv4, SocketProtocol::TCP);
    ASSERT_TRUE(socket.has_value());
    const uint8_t loopback[4] = {127, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(loopback, socket->address, 4));
    EXPECT_EQ(0x277, socket->port);
    EXPECT_EQ(kKernelStateListen, socket->state);
    EXPECT_EQ(12345u, socket->inode);
    EXPECT_EQ(SocketFamily::IPv4, socket->family);
    EXPECT_EQ(SocketProtocol::TCP, socket->protocol);
}

TEST(ParseProcNetLine, IPv6AddressWordsAreHostOrder) {
    // fe80::1:2 as the kernel prints it on a little-endian host: each 32-bit
    // word's value, so the bytes of each word appear reversed.
    const auto socket = ParseProcNetLine(
        "  1: 000080FE000000000000000002000100:0035 00000000000000000000000000000000:0000 07 00000000:00000000 "
        "00:00000000 00000000   100        0 18446744073709551615 2 0000000000000000 0",
        SocketFamily::IPv6, SocketProtocol::UDP);
    ASSERT_TRUE(socket.has_value());
    uint8_t expected[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2};
    uint8_t expectedHost[16];
    // The test derives the expected bytes the same way on any host: a word
    // printed as V is stored as the host's memory of V.
    const uint32_t words[4] = {0x000080FEu, 0, 0x00000000u, 0x02000100u};
    std::memcpy(expectedHost, words, 16);
    EXPECT_EQ(0, std::memcmp(expectedHost, socket->address, 16));
    const uint16_t probe = 1;
    if (*reinterpret_cast<const uint8_t*>(&probe) == 1) {
        EXPECT_EQ(0, std::memcmp(expected, socket->address, 16));
    }
    EXPECT_EQ(53, socket->port);
    EXPECT_EQ(7, socket->state);
    EXPECT_EQ(18446744073709551615ull, socket->inode);  // inodes may exceed 32 bits
}

TEST(ParseProcNetLine, MalformedLinesGiveNone) {
    const char* lines[] = {
        "",
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode",
        "   0: 0100007F:0277",
        "   0: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0",
        "   0: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 12x45",
        "   0: 0100007G:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1",
        "   0: 0100007F:02770 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1",
        "   0: 0100007F0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1",
        // An inode one past the largest 64-bit number.
        "   0: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 18446744073709551616",
        "   x: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(ParseProcNetLine(line, SocketFamily::IPv4, SocketProtocol::TCP).has_value());
    }
    // An IPv4 line read as IPv6 is malformed too.
    EXPECT_FALSE(ParseProcNetLine("   0: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000 "
                                  "    0        0 1",
                                  SocketFamily::IPv6, SocketProtocol::TCP)
                     .has_value());
}

TEST(ParseProcNetTable, KeepsListenersOfTcpAndEveryUdpSocketAndSkipsBadLines) {
    const std::string text =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 00000000:0016 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 100 1\n"
        "   1: 0100007F:0016 0100007F:D431 01 00000000:00000000 00:00000000 00000000     0        0 101 1\n"
        "   2: garbage\n"
        "   3: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 102";  // no LF
    std::vector<KernelSocket> tcp;
    ParseProcNetTable(text, SocketFamily::IPv4, SocketProtocol::TCP, tcp);
    ASSERT_EQ(2u, tcp.size());
    EXPECT_EQ(100u, tcp[0].inode);
    EXPECT_EQ(102u, tcp[1].inode);
    EXPECT_EQ(8080, tcp[1].port);

    std::vector<KernelSocket> udp;
    ParseProcNetTable(text, SocketFamily::IPv4, SocketProtocol::UDP, udp);
    EXPECT_EQ(3u, udp.size());
}

}  // namespace
