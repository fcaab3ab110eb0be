// GetExtendedTcpTable and GetExtendedUdpTable over a fixture /proc tree: the
// size protocol, row layouts, order, owners and opening times.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixture_tree.h"
#include "owned_sockets.h"
#include "process_start.h"
#include "win32.h"

namespace {

using lystrel::test::FixtureTree;
using lystrel::test::RootGuard;

const char kTcpHeader[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
const char kTcp6Header[] =
    "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
    "tm->when retrnsmt   uid  timeout inode\n";
constexpr uint64_t kBootSeconds = 1600000000;

std::string Line(const std::string& local, const std::string& remote, const char* state, uint64_t inode) {
    return "   0: " + local + " " + remote + " " + state +
           " 00000000:00000000 00:00000000 00000000     0        0 " + std::to_string(inode) + " 1 0\n";
}

std::string Stat(uint32_t pid, const std::string& comm, uint64_t start) {
    return std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 " +
           std::to_string(start) + " 1 1 0\n";
}

uint64_t StartOf(uint64_t ticks) {
    return lystrel::layer::FileTimeAfterBoot(kBootSeconds, ticks, lystrel::layer::ClockTicksPerSecond());
}
uint64_t BootFileTime() { return StartOf(0); }

// The kernel prints each 32-bit address word as the host reads it.
std::string HexWord(const uint8_t bytes[4]) {
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}
std::string V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port) {
    const uint8_t bytes[4] = {a, b, c, d};
    char portText[5];
    std::snprintf(portText, sizeof portText, "%04X", port);
    return HexWord(bytes) + ":" + portText;
}
std::string V6(const uint8_t bytes[16], uint16_t port) {
    char portText[5];
    std::snprintf(portText, sizeof portText, "%04X", port);
    return HexWord(bytes) + HexWord(bytes + 4) + HexWord(bytes + 8) + HexWord(bytes + 12) + ":" + portText;
}

const uint8_t kAny6[16] = {};
const uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const uint8_t kLinkLocal[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

// A machine with a few sockets: pids 20 and 30 share the SSH listener.
void WriteMachine(const FixtureTree& tree) {
    const std::string zero4 = V4(0, 0, 0, 0, 0);
    tree.Write("/proc/net/tcp", std::string(kTcpHeader) +
                                    Line(V4(127, 0, 0, 1, 8080), zero4, "0A", 101) +
                                    Line(V4(10, 0, 0, 1, 80), zero4, "0A", 103) +
                                    Line(V4(127, 0, 0, 1, 8080), V4(127, 0, 0, 1, 50000), "01", 102) +
                                    Line(V4(0, 0, 0, 0, 22), zero4, "0A", 100) +
                                    "   9: truncated line\n");
    const std::string zero6 = V6(kAny6, 0);
    tree.Write("/proc/net/tcp6", std::string(kTcp6Header) + Line(V6(kLoopback6, 443), zero6, "0A", 200) +
                                     Line(V6(kAny6, 22), zero6, "0A", 201));
    tree.Write("/proc/net/udp", std::string(kTcpHeader) + Line(V4(127, 0, 0, 1, 53), zero4, "07", 300) +
                                    Line(V4(127, 0, 0, 1, 5353), V4(127, 0, 0, 1, 53), "01", 301));
    tree.Write("/proc/net/udp6", std::string(kTcp6Header) + Line(V6(kLinkLocal, 546), zero6, "07", 400));
    tree.Write("/proc/stat", "cpu 1 2 3\nbtime " + std::to_string(kBootSeconds) + "\n");
    tree.Write("/proc/20/stat", Stat(20, "sshd", 500));
    tree.Write("/proc/30/stat", Stat(30, "odd) S 1 (name", 1234));
    tree.Link("/proc/30/fd/4", "socket:[100]");
    tree.Link("/proc/20/fd/3", "socket:[100]");
    tree.Link("/proc/30/fd/5", "socket:[103]");
    tree.Link("/proc/30/fd/6", "socket:[200]");
    tree.Link("/proc/30/fd/7", "socket:[300]");
    tree.Link("/proc/20/fd/8", "socket:[301]");
    tree.Link("/proc/20/fd/9", "socket:[400]");
    tree.Link("/proc/20/fd/10", "socket:[201]");
}

// Probes and fetches a table the way our code does; gives the buffer.
std::vector<uint8_t> Fetch(bool tcp, ULONG family) {
    uint8_t scratch[1];
    DWORD size = 1;
    const DWORD probe = tcp ? GetExtendedTcpTable(scratch, &size, TRUE, family, TCP_TABLE_OWNER_MODULE_LISTENER, 0)
                            : GetExtendedUdpTable(scratch, &size, TRUE, family, UDP_TABLE_OWNER_MODULE, 0);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), probe);
    std::vector<uint8_t> buffer(size, 0xEE);
    const DWORD probed = size;
    const DWORD fetch = tcp ? GetExtendedTcpTable(buffer.data(), &size, TRUE, family, TCP_TABLE_OWNER_MODULE_LISTENER, 0)
                            : GetExtendedUdpTable(buffer.data(), &size, TRUE, family, UDP_TABLE_OWNER_MODULE, 0);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), fetch);
    EXPECT_EQ(probed, size);
    return buffer;
}

DWORD Count(const std::vector<uint8_t>& table) {
    DWORD count;
    std::memcpy(&count, table.data(), 4);
    return count;
}

template <typename Row>
Row RowAt(const std::vector<uint8_t>& table, size_t index) {
    Row row;
    std::memcpy(&row, table.data() + 8 + index * sizeof(Row), sizeof row);
    return row;
}

uint16_t PortOf(DWORD stored) {
    uint8_t bytes[4];
    std::memcpy(bytes, &stored, 4);
    EXPECT_EQ(0, bytes[2]);
    EXPECT_EQ(0, bytes[3]);
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

bool AllZero(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

TEST(GetExtendedTcpTable, IPv4ListenersSortedWithOwnersAndTimes) {
    FixtureTree tree;
    WriteMachine(tree);
    RootGuard root(tree.Path());
    const std::vector<uint8_t> table = Fetch(true, AF_INET);
    ASSERT_EQ(8 + 3 * sizeof(MIB_TCPROW_OWNER_MODULE), table.size());
    ASSERT_EQ(3u, Count(table));
    EXPECT_EQ(0xEE, table[4]);  // bytes 4-7 untouched
    EXPECT_EQ(0xEE, table[7]);

    struct Expected {
        uint8_t address[4];
        uint16_t port;
        DWORD pid;
        uint64_t time;
    } expected[] = {
        {{0, 0, 0, 0}, 22, 20, StartOf(500)},
        {{10, 0, 0, 1}, 80, 30, StartOf(1234)},
        {{127, 0, 0, 1}, 8080, 0, BootFileTime()},
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const auto row = RowAt<MIB_TCPROW_OWNER_MODULE>(table, i);
        EXPECT_EQ(static_cast<DWORD>(MIB_TCP_STATE_LISTEN), row.dwState);
        EXPECT_EQ(0, std::memcmp(expected[i].address, &row.dwLocalAddr, 4));
        EXPECT_EQ(expected[i].port, PortOf(row.dwLocalPort));
        EXPECT_EQ(expected[i].pid, row.dwOwningPid);
        EXPECT_EQ(expected[i].time, static_cast<uint64_t>(row.liCreateTimestamp.QuadPart));
        EXPECT_EQ(0u, row.dwRemoteAddr);
        EXPECT_EQ(0u, row.dwRemotePort);
        EXPECT_TRUE(AllZero(row.OwningModuleInfo, sizeof row.OwningModuleInfo));
    }
}

TEST(GetExtendedTcpTable, IPv6Listeners) {
    FixtureTree tree;
    WriteMachine(tree);
    RootGuard root(tree.Path());
    const std::vector<uint8_t> table = Fetch(true, AF_INET6);
    ASSERT_EQ(2u, Count(table));
    const auto any = RowAt<MIB_TCP6ROW_OWNER_MODULE>(table, 0);
    const auto loopback = RowAt<MIB_TCP6ROW_OWNER_MODULE>(table, 1);
    EXPECT_EQ(0, std::memcmp(kAny6, any.ucLocalAddr, 16));
    EXPECT_EQ(22, PortOf(any.dwLocalPort));
    EXPECT_EQ(20u, any.dwOwningPid);
    EXPECT_EQ(0, std::memcmp(kLoopback6, loopback.ucLocalAddr, 16));
    EXPECT_EQ(443, PortOf(loopback.dwLocalPort));
    EXPECT_EQ(30u, loopback.dwOwningPid);
    EXPECT_EQ(static_cast<DWORD>(MIB_TCP_STATE_LISTEN), loopback.dwState);
    EXPECT_EQ(0u, loopback.dwLocalScopeId);  // /proc/net carries no interface
    EXPECT_EQ(StartOf(1234), static_cast<uint64_t>(loopback.liCreateTimestamp.QuadPart));
}

TEST(GetExtendedUdpTable, EveryUdpSocketConnectedOnesIncluded) {
    FixtureTree tree;
    WriteMachine(tree);
    RootGuard root(tree.Path());
    const std::vector<uint8_t> table = Fetch(false, AF_INET);
    ASSERT_EQ(8 + 2 * sizeof(MIB_UDPROW_OWNER_MODULE), table.size());
    ASSERT_EQ(2u, Count(table));
    const auto first = RowAt<MIB_UDPROW_OWNER_MODULE>(table, 0);
    const auto second = RowAt<MIB_UDPROW_OWNER_MODULE>(table, 1);
    EXPECT_EQ(53, PortOf(first.dwLocalPort));
    EXPECT_EQ(30u, first.dwOwningPid);
    EXPECT_EQ(5353, PortOf(second.dwLocalPort));
    EXPECT_EQ(20u, second.dwOwningPid);
    EXPECT_EQ(StartOf(500), static_cast<uint64_t>(second.liCreateTimestamp.QuadPart));
    EXPECT_EQ(0, first.dwFlags);

    const std::vector<uint8_t> table6 = Fetch(false, AF_INET6);
    ASSERT_EQ(1u, Count(table6));
    const auto row6 = RowAt<MIB_UDP6ROW_OWNER_MODULE>(table6, 0);
    EXPECT_EQ(0, std::memcmp(kLinkLocal, row6.ucLocalAddr, 16));
    EXPECT_EQ(546, PortOf(row6.dwLocalPort));
    EXPECT_EQ(20u, row6.dwOwningPid);
}

TEST(GetExtendedTcpTable, TooSmallFetchAsksAgainAndWritesNothing) {
    FixtureTree tree;
    WriteMachine(tree);
    RootGuard root(tree.Path());
    uint8_t scratch[1] = {0x5A};
    DWORD size = 1;
    ASSERT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedTcpTable(scratch, &size, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
    EXPECT_EQ(0x5A, scratch[0]);
    const DWORD need = size;
    std::vector<uint8_t> buffer(need, 0xEE);
    size = need - 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedTcpTable(buffer.data(), &size, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
    EXPECT_EQ(need, size);
    for (uint8_t byte : buffer) ASSERT_EQ(0xEE, byte);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR),
              GetExtendedTcpTable(buffer.data(), &size, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
}

TEST(GetExtendedTcpTable, TheFetchSeesWhatTheProbeMeasured) {
    FixtureTree tree;
    WriteMachine(tree);
    RootGuard root(tree.Path());
    uint8_t scratch[1];
    DWORD size = 1;
    ASSERT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedTcpTable(scratch, &size, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
    const DWORD probed = size;
    // The table changes between the two calls: three listeners become four.
    tree.Write("/proc/net/tcp", std::string(kTcpHeader) + Line(V4(1, 2, 3, 4, 1), V4(0, 0, 0, 0, 0), "0A", 1) +
                                    Line(V4(1, 2, 3, 4, 2), V4(0, 0, 0, 0, 0), "0A", 2) +
                                    Line(V4(1, 2, 3, 4, 3), V4(0, 0, 0, 0, 0), "0A", 3) +
                                    Line(V4(1, 2, 3, 4, 4), V4(0, 0, 0, 0, 0), "0A", 4));
    std::vector<uint8_t> buffer(probed);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR),
              GetExtendedTcpTable(buffer.data(), &size, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
    EXPECT_EQ(3u, Count(buffer));
    // The next probe reads afresh.
    size = 1;
    ASSERT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedTcpTable(scratch, &size, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
    EXPECT_EQ(8 + 4 * sizeof(MIB_TCPROW_OWNER_MODULE), size);
}

TEST(GetExtendedUdpTable, AnEmptyTableNeedsEightBytes) {
    FixtureTree tree;
    tree.Write("/proc/net/udp", kTcpHeader);
    RootGuard root(tree.Path());
    uint8_t scratch[1];
    DWORD size = 1;
    ASSERT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedUdpTable(scratch, &size, TRUE, AF_INET, UDP_TABLE_OWNER_MODULE, 0));
    ASSERT_EQ(8u, size);
    uint8_t table[8];
    std::memset(table, 0xEE, sizeof table);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR),
              GetExtendedUdpTable(table, &size, TRUE, AF_INET, UDP_TABLE_OWNER_MODULE, 0));
    EXPECT_EQ(8u, size);
    EXPECT_TRUE(AllZero(table, 4));
    EXPECT_EQ(0xEE, table[4]);
}

TEST(GetExtendedTables, InvalidArgumentsGive87) {
    FixtureTree tree;
    WriteMachine(tree);
    RootGuard root(tree.Path());
    uint8_t scratch[1];
    DWORD size = 1;
    EXPECT_EQ(87u, GetExtendedTcpTable(scratch, nullptr, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
    EXPECT_EQ(87u, GetExtendedUdpTable(scratch, nullptr, TRUE, AF_INET, UDP_TABLE_OWNER_MODULE, 0));
    EXPECT_EQ(87u, GetExtendedTcpTable(scratch, &size, TRUE, 10, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
    EXPECT_EQ(87u, GetExtendedUdpTable(scratch, &size, TRUE, 99, UDP_TABLE_OWNER_MODULE, 0));
    EXPECT_EQ(87u, GetExtendedTcpTable(scratch, &size, TRUE, AF_INET, static_cast<TCP_TABLE_CLASS>(42), 0));
    EXPECT_EQ(87u, GetExtendedUdpTable(scratch, &size, TRUE, AF_INET6, static_cast<UDP_TABLE_CLASS>(7), 0));
    EXPECT_EQ(1u, size);
}

TEST(GetExtendedTables, OneProcScanServesEveryTableWhenAllSocketsAreKnown) {
    FixtureTree tree;
    const std::string zero4 = V4(0, 0, 0, 0, 0);
    tree.Write("/proc/net/tcp", std::string(kTcpHeader) + Line(V4(0, 0, 0, 0, 22), zero4, "0A", 100));
    tree.Write("/proc/net/udp", std::string(kTcpHeader) + Line(V4(0, 0, 0, 0, 53), zero4, "07", 300));
    tree.Write("/proc/net/tcp6", kTcp6Header);
    tree.Write("/proc/net/udp6", kTcp6Header);
    tree.Link("/proc/20/fd/3", "socket:[100]");
    tree.Link("/proc/20/fd/4", "socket:[300]");
    RootGuard root(tree.Path());
    Fetch(true, AF_INET);
    Fetch(false, AF_INET);
    Fetch(true, AF_INET6);
    Fetch(false, AF_INET6);
    EXPECT_EQ(1u, lystrel::layer::OwnerScanCount());
}

TEST(GetExtendedTables, AnUnknownSocketRescansOncePerTable) {
    FixtureTree tree;
    const std::string zero4 = V4(0, 0, 0, 0, 0);
    tree.Write("/proc/net/tcp", std::string(kTcpHeader) + Line(V4(0, 0, 0, 0, 22), zero4, "0A", 100));
    tree.Write("/proc/net/udp", std::string(kTcpHeader) + Line(V4(0, 0, 0, 0, 53), zero4, "07", 300) +
                                    Line(V4(0, 0, 0, 0, 54), zero4, "07", 301) +
                                    Line(V4(0, 0, 0, 0, 55), zero4, "07", 302));
    tree.Link("/proc/20/fd/3", "socket:[100]");
    RootGuard root(tree.Path());
    Fetch(true, AF_INET);
    EXPECT_EQ(1u, lystrel::layer::OwnerScanCount());
    // A process that opened a socket after the first scan is found by the rescan.
    tree.Link("/proc/77/fd/1", "socket:[300]");
    const std::vector<uint8_t> udp = Fetch(false, AF_INET);
    EXPECT_EQ(2u, lystrel::layer::OwnerScanCount());  // 301 and 302 stay unknown: one rescan only
    ASSERT_EQ(3u, Count(udp));
    EXPECT_EQ(77u, RowAt<MIB_UDPROW_OWNER_MODULE>(udp, 0).dwOwningPid);
    EXPECT_EQ(0u, RowAt<MIB_UDPROW_OWNER_MODULE>(udp, 1).dwOwningPid);
}

TEST(GetExtendedTables, MissingTablesFailTheProbe) {
    FixtureTree tree;
    RootGuard root(tree.Path());
    uint8_t scratch[1];
    DWORD size = 1;
    EXPECT_NE(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedTcpTable(scratch, &size, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
    EXPECT_NE(static_cast<DWORD>(NO_ERROR),
              GetExtendedTcpTable(scratch, &size, TRUE, AF_INET, TCP_TABLE_OWNER_MODULE_LISTENER, 0));
}

}  // namespace
