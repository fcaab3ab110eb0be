// The endpoint tables on the live system, read through netlink, against
// sockets the test itself holds on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "loopback_sockets.h"
#include "process_start.h"
#include "win32.h"

namespace {

using lystrel::test::LoopbackSocket;

std::vector<uint8_t> FetchLive(bool tcp, ULONG family) {
    uint8_t scratch[1];
    DWORD size = 1;
    const DWORD probe = tcp ? GetExtendedTcpTable(scratch, &size, TRUE, family, TCP_TABLE_OWNER_MODULE_LISTENER, 0)
                            : GetExtendedUdpTable(scratch, &size, TRUE, family, UDP_TABLE_OWNER_MODULE, 0);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), probe);
    std::vector<uint8_t> buffer(size);
    const DWORD fetch = tcp ? GetExtendedTcpTable(buffer.data(), &size, TRUE, family, TCP_TABLE_OWNER_MODULE_LISTENER, 0)
                            : GetExtendedUdpTable(buffer.data(), &size, TRUE, family, UDP_TABLE_OWNER_MODULE, 0);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), fetch);
    buffer.resize(size);
    return buffer;
}

uint16_t PortOf(DWORD stored) {
    uint8_t bytes[4];
    std::memcpy(bytes, &stored, 4);
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint64_t OurStartTime() {
    const auto ticks = lystrel::layer::ReadStartTicks(static_cast<uint32_t>(getpid()));
    const auto boot = lystrel::layer::ReadBootTime();
    if (!ticks || !boot) return 0;
    return lystrel::layer::FileTimeAfterBoot(*boot, *ticks, lystrel::layer::ClockTicksPerSecond());
}

// Finds the row with the port; checks the table's order on the way.
template <typename Row>
bool FindRow(const std::vector<uint8_t>& table, uint16_t port, Row& found, size_t addressSize,
             size_t addressOffset) {
    DWORD count;
    std::memcpy(&count, table.data(), 4);
    EXPECT_LE(8 + count * sizeof(Row), table.size());
    bool seen = false;
    std::vector<uint8_t> previous;
    uint16_t previousPort = 0;
    for (DWORD i = 0; i < count && 8 + (i + 1) * sizeof(Row) <= table.size(); ++i) {
        Row row;
        std::memcpy(&row, table.data() + 8 + i * sizeof(Row), sizeof row);
        const uint8_t* address = reinterpret_cast<const uint8_t*>(&row) + addressOffset;
        std::vector<uint8_t> current(address, address + addressSize);
        const uint16_t rowPort = PortOf(row.dwLocalPort);
        if (i > 0) {
            EXPECT_TRUE(previous < current || (previous == current && previousPort <= rowPort));
        }
        previous = current;
        previousPort = rowPort;
        if (rowPort == port && !seen) {
            found = row;
            seen = true;
        }
    }
    return seen;
}

TEST(LiveTables, OurLoopbackSocketsWithPidAndStartTime) {
    LoopbackSocket tcp4 = lystrel::test::OpenTcpListener(false);
    LoopbackSocket tcp6 = lystrel::test::OpenTcpListener(true);
    LoopbackSocket udp4 = lystrel::test::OpenUdpSocket(false);
    LoopbackSocket udp6 = lystrel::test::OpenUdpSocket(true);
    LoopbackSocket bound = lystrel::test::OpenTcpBound(false);
    ASSERT_GE(tcp4.fd, 0);
    if (tcp6.fd < 0 || udp6.fd < 0) GTEST_SKIP() << "no IPv6 loopback here";
    ASSERT_GE(udp4.fd, 0);
    ASSERT_GE(bound.fd, 0);
    const DWORD pid = static_cast<DWORD>(getpid());
    const uint64_t started = OurStartTime();
    ASSERT_NE(0u, started);

    MIB_TCPROW_OWNER_MODULE row4;
    ASSERT_TRUE(FindRow(FetchLive(true, AF_INET), tcp4.port, row4, 4, offsetof(MIB_TCPROW_OWNER_MODULE, dwLocalAddr)));
    EXPECT_EQ(pid, row4.dwOwningPid);
    EXPECT_EQ(static_cast<DWORD>(MIB_TCP_STATE_LISTEN), row4.dwState);
    const uint8_t loopback4[4] = {127, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(loopback4, &row4.dwLocalAddr, 4));
    EXPECT_EQ(started, static_cast<uint64_t>(row4.liCreateTimestamp.QuadPart));
    MIB_TCPROW_OWNER_MODULE notListening;
    EXPECT_FALSE(FindRow(FetchLive(true, AF_INET), bound.port, notListening, 4,
                         offsetof(MIB_TCPROW_OWNER_MODULE, dwLocalAddr)));

    MIB_TCP6ROW_OWNER_MODULE row6;
    ASSERT_TRUE(FindRow(FetchLive(true, AF_INET6), tcp6.port, row6, 16, 0));
    EXPECT_EQ(pid, row6.dwOwningPid);
    EXPECT_EQ(1, row6.ucLocalAddr[15]);
    EXPECT_EQ(0u, row6.dwLocalScopeId);

    MIB_UDPROW_OWNER_MODULE urow4;
    ASSERT_TRUE(FindRow(FetchLive(false, AF_INET), udp4.port, urow4, 4, 0));
    EXPECT_EQ(pid, urow4.dwOwningPid);
    EXPECT_EQ(started, static_cast<uint64_t>(urow4.liCreateTimestamp.QuadPart));

    MIB_UDP6ROW_OWNER_MODULE urow6;
    ASSERT_TRUE(FindRow(FetchLive(false, AF_INET6), udp6.port, urow6, 16, 0));
    EXPECT_EQ(pid, urow6.dwOwningPid);

    for (LoopbackSocket* s : {&tcp4, &tcp6, &udp4, &udp6, &bound}) lystrel::test::CloseSocket(*s);
}

}  // namespace
