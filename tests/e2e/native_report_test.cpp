// The native report against sockets this test holds: each one's block shows
// its port, address, holder, holder's image and the holder's start time.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "loopback_sockets.h"
#include "report_blocks.h"
#include "run_program.h"

namespace {

using lystrel::test::ParsedReport;
using lystrel::test::ReportBlock;

const char kTcp4[] = "- IPv4 TCP ports -";
const char kUdp4[] = "- IPv4 UDP ports -";
const char kTcp6[] = "- IPv6 TCP ports -";
const char kUdp6[] = "- IPv6 UDP ports -";

// A socket held open by the test, closed at the end of its scope.
struct HeldSocket {
    int fd = -1;
    uint16_t port = 0;
    HeldSocket() = default;
    explicit HeldSocket(const lystrel::test::LoopbackSocket& opened) : fd(opened.fd), port(opened.port) {}
    HeldSocket(HeldSocket&& other) noexcept : fd(other.fd), port(other.port) { other.fd = -1; }
    HeldSocket& operator=(HeldSocket&& other) noexcept {
        std::swap(fd, other.fd);
        std::swap(port, other.port);
        return *this;
    }
    ~HeldSocket() {
        if (fd >= 0) close(fd);
    }
};

HeldSocket TcpListener(bool ipv6, const char* device = nullptr) {
    return HeldSocket(lystrel::test::OpenTcpListener(ipv6, device));
}
HeldSocket UdpSocket(bool ipv6, const char* device = nullptr) {
    return HeldSocket(lystrel::test::OpenUdpSocket(ipv6, device));
}
HeldSocket TcpBound(bool ipv6) { return HeldSocket(lystrel::test::OpenTcpBound(ipv6)); }

// Connects `from` to the address `to` is bound to.
bool Connect(const HeldSocket& from, const HeldSocket& to) {
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof storage);
    socklen_t length = sizeof storage;
    if (getsockname(to.fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return false;
    return connect(from.fd, reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ExePath(pid_t pid) {
    char target[4096];
    const ssize_t length = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

// The holder's start in local time as the report prints it, computed from
// /proc/PID/stat and /proc/stat with the offset in force now.
std::string ExpectedOpenedAt(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return "unreadable stat";
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    unsigned long long startTicks = 0;
    for (int number = 3; number <= 22 && fields >> field; ++number)
        if (number == 22) startTicks = std::stoull(field);
    const std::string procStat = ReadFile("/proc/stat");
    const size_t at = procStat.find("\nbtime ");
    if (at == std::string::npos) return "no btime";
    const long long boot = std::stoll(procStat.substr(at + 7));
    const long hz = sysconf(_SC_CLK_TCK);
    const time_t now = time(nullptr);
    struct tm nowLocal;
    localtime_r(&now, &nowLocal);
    const time_t local = static_cast<time_t>(boot + static_cast<long long>(startTicks / hz) + nowLocal.tm_gmtoff);
    struct tm fieldsOut;
    gmtime_r(&local, &fieldsOut);
    char text[64];
    std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %d:%d", fieldsOut.tm_year + 1900, fieldsOut.tm_mon + 1,
                  fieldsOut.tm_mday, fieldsOut.tm_hour, fieldsOut.tm_min);
    return text;
}

ParsedReport RunReport() {
    const lystrel::test::ProgramRun run = lystrel::test::RunProgram(LYSTREL_BINARY, {});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ("", run.err);
    const ParsedReport report = lystrel::test::ParseReport(run.out);
    EXPECT_TRUE(report.strayLines.empty()) << report.strayLines.front();
    return report;
}

struct Expectation {
    const char* name;
    const char* section;
    uint16_t port;
    std::string address;
    pid_t holder;
};

void ExpectBlock(const ParsedReport& report, const Expectation& expected) {
    SCOPED_TRACE(expected.name);
    const std::vector<ReportBlock> blocks = lystrel::test::BlocksWithPort(report, expected.section, expected.port);
    auto found = std::find_if(blocks.begin(), blocks.end(),
                              [&](const ReportBlock& block) { return block.address == expected.address; });
    ASSERT_NE(blocks.end(), found) << "no block for port " << expected.port << " at " << expected.address;
    EXPECT_EQ(std::string(expected.section).find("TCP") != std::string::npos ? "TCP" : "UDP", found->protocol);
    EXPECT_EQ(expected.holder, found->pid);
    ASSERT_TRUE(found->imagePath.has_value());
    EXPECT_EQ(ExePath(expected.holder), *found->imagePath);
    EXPECT_EQ(ExpectedOpenedAt(expected.holder), found->openedAt);
}

bool HaveIPv6Loopback() {
    HeldSocket probe = UdpSocket(true);
    return probe.fd >= 0;
}

TEST(NativeReport, ListenersAndUdpSocketsOnLoopbackOfBothFamilies) {
    if (!HaveIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    const pid_t self = getpid();
    HeldSocket tcp4 = TcpListener(false);
    HeldSocket tcp6 = TcpListener(true);
    HeldSocket udp4 = UdpSocket(false);
    HeldSocket udp6 = UdpSocket(true);
    // One UDP socket of each family connected to another.
    HeldSocket connected4 = UdpSocket(false);
    HeldSocket peer4 = UdpSocket(false);
    HeldSocket connected6 = UdpSocket(true);
    HeldSocket peer6 = UdpSocket(true);
    // A bound TCP socket that does not listen must not be listed.
    HeldSocket quiet = TcpBound(false);
    for (const HeldSocket* held : {&tcp4, &tcp6, &udp4, &udp6, &connected4, &peer4, &connected6, &peer6, &quiet})
        ASSERT_GE(held->fd, 0);
    ASSERT_TRUE(Connect(connected4, peer4));
    ASSERT_TRUE(Connect(connected6, peer6));

    const ParsedReport report = RunReport();
    EXPECT_EQ((std::vector<std::string>{kTcp4, kUdp4, kTcp6, kUdp6}), report.sections);
    const Expectation expectations[] = {
        {"tcp4 listener", kTcp4, tcp4.port, "127.0.0.1", self},
        {"tcp6 listener", kTcp6, tcp6.port, "[::1]", self},
        {"udp4", kUdp4, udp4.port, "127.0.0.1", self},
        {"udp6", kUdp6, udp6.port, "[::1]", self},
        {"connected udp4", kUdp4, connected4.port, "127.0.0.1", self},
        {"udp4 peer", kUdp4, peer4.port, "127.0.0.1", self},
        {"connected udp6", kUdp6, connected6.port, "[::1]", self},
        {"udp6 peer", kUdp6, peer6.port, "[::1]", self},
    };
    for (const Expectation& expected : expectations) ExpectBlock(report, expected);
    EXPECT_TRUE(lystrel::test::BlocksWithPort(report, kTcp4, quiet.port).empty());
}

TEST(NativeReport, ASocketSharedWithAChildShowsTheLowestPid) {
    HeldSocket shared = TcpListener(false);
    ASSERT_GE(shared.fd, 0);
    int release[2];
    int ready[2];
    ASSERT_EQ(0, pipe(release));
    ASSERT_EQ(0, pipe(ready));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child keeps the inherited socket until the parent closes the pipe.
        close(release[1]);
        close(ready[0]);
        const char signal = 'r';
        if (write(ready[1], &signal, 1) != 1) _exit(1);
        char byte;
        while (read(release[0], &byte, 1) > 0) {
        }
        _exit(0);
    }
    close(release[0]);
    close(ready[1]);
    char signal = 0;
    ASSERT_EQ(1, read(ready[0], &signal, 1));
    close(ready[0]);

    const ParsedReport report = RunReport();
    const pid_t lowest = std::min(getpid(), child);
    ExpectBlock(report, {"shared listener", kTcp4, shared.port, "127.0.0.1", lowest});

    close(release[1]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(NativeReport, AnIPv6SocketBoundToLoopbackDeviceShowsItsScope) {
    if (!HaveIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    HeldSocket udp = UdpSocket(true, "lo");
    if (udp.fd < 0 && (errno == EPERM || errno == EACCES)) GTEST_SKIP() << "SO_BINDTODEVICE is not permitted here";
    ASSERT_GE(udp.fd, 0) << std::strerror(errno);
    HeldSocket tcp = TcpListener(true, "lo");
    ASSERT_GE(tcp.fd, 0) << std::strerror(errno);
    const unsigned index = if_nametoindex("lo");
    ASSERT_NE(0u, index);
    const std::string address = "[::1%" + std::to_string(index) + "]";

    const ParsedReport report = RunReport();
    ExpectBlock(report, {"udp6 on lo", kUdp6, udp.port, address, getpid()});
    ExpectBlock(report, {"tcp6 on lo", kTcp6, tcp.port, address, getpid()});
}

}  // namespace
