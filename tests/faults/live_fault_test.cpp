// The whole report on this machine while one call of the layer fails, for
// each call that can: the report keeps its shape with less detail, or ends
// with the first section's size-probe line and status 1.
#include <unistd.h>

#include <cerrno>

#include "debug_capabilities.h"
#include "expected_text.h"
#include "loopback_sockets.h"
#include "report_run.h"

namespace lystrel::test {
namespace {

using layer::Fault;

enum class Outcome { Complete, FirstSectionFatal };

struct LiveCase {
    const char* name;
    std::vector<FaultPlan> faults;
    Outcome outcome;
    /// Whether the blocks of the test's sockets name this process (else pid 0).
    bool ownerKnown;
    bool imagePath;
};

// One socket per section, opened afresh for each run: sockets the owner index
// has not seen make every section scan /proc/PID/fd again, under the fault.
class HeldSockets {
public:
    HeldSockets() {
        sockets[0] = OpenTcpListener(false);
        sockets[1] = OpenUdpSocket(false);
        sockets[2] = OpenTcpListener(true);
        sockets[3] = OpenUdpSocket(true);
    }
    ~HeldSockets() {
        for (LoopbackSocket& socket : sockets) CloseSocket(socket);
    }
    bool Held() const {
        for (const LoopbackSocket& socket : sockets)
            if (socket.fd < 0) return false;
        return true;
    }
    LoopbackSocket sockets[4];
};

const char* const kAddresses[4] = {"127.0.0.1", "127.0.0.1", "[::1]", "[::1]"};

// Each held socket is listed once in its section, with the expected detail.
void ExpectHeldSockets(const ReportRun& run, const HeldSockets& held, bool ownerKnown, bool imagePath) {
    for (size_t section = 0; section < 4; ++section) {
        SCOPED_TRACE(kSectionNames[section]);
        const std::vector<ReportBlock> blocks = BlocksWithPort(run.parsed, kSectionNames[section], held.sockets[section].port);
        ASSERT_EQ(blocks.size(), 1u) << run.text;
        const ReportBlock& block = blocks.front();
        EXPECT_EQ(block.address, kAddresses[section]);
        EXPECT_EQ(block.pid, ownerKnown ? static_cast<long>(getpid()) : 0L);
        EXPECT_EQ(block.imagePath.has_value(), imagePath);
        if (imagePath && block.imagePath) {
            EXPECT_EQ(*block.imagePath, OwnImagePath());
        }
        EXPECT_TRUE(block.serviceLines.empty());
        EXPECT_FALSE(block.openedAt.empty());
    }
}

const std::string kFirstSectionFatal =
    testing::kBanner + testing::kHeaderIPv4TCP + "Error: Unable to determine buffer size IP v4 TCP\n";

TEST(LiveFaultTest, EachFailingCallGivesLessDetailOrTheFatalLine) {
    const LiveCase cases[] = {
        {"netlink socket denied", {{Fault::NetlinkSocket, EACCES}}, Outcome::Complete, true, true},
        {"netlink socket out of descriptors", {{Fault::NetlinkSocket, EMFILE}}, Outcome::Complete, true, true},
        {"netlink send", {{Fault::NetlinkSend, ENOBUFS}}, Outcome::Complete, true, true},
        {"netlink send interrupted once", {{Fault::NetlinkSend, EINTR, 1}}, Outcome::Complete, true, true},
        {"netlink receive", {{Fault::NetlinkReceive, ENOBUFS}}, Outcome::Complete, true, true},
        {"first netlink receive", {{Fault::NetlinkReceive, EIO, 1}}, Outcome::Complete, true, true},
        {"netlink receive interrupted once", {{Fault::NetlinkReceive, EINTR, 1}}, Outcome::Complete, true, true},
        {"/proc files not opened", {{Fault::ProcFileOpen, EACCES}}, Outcome::Complete, true, true},
        {"/proc files not read", {{Fault::ProcFileRead, EIO}}, Outcome::Complete, true, true},
        {"/proc file read interrupted once", {{Fault::ProcFileRead, EINTR, 1}}, Outcome::Complete, true, true},
        {"netlink socket and /proc/net open",
         {{Fault::NetlinkSocket, EACCES}, {Fault::ProcFileOpen, ENOENT}},
         Outcome::FirstSectionFatal, false, false},
        {"netlink send and /proc/net open",
         {{Fault::NetlinkSend, EPERM}, {Fault::ProcFileOpen, EACCES}},
         Outcome::FirstSectionFatal, false, false},
        {"netlink receive and /proc/net read",
         {{Fault::NetlinkReceive, ENOBUFS}, {Fault::ProcFileRead, EIO}},
         Outcome::FirstSectionFatal, false, false},
        {"first netlink receive and first /proc/net open",
         {{Fault::NetlinkReceive, EIO, 1}, {Fault::ProcFileOpen, EMFILE, 1}},
         Outcome::FirstSectionFatal, false, false},
        {"/proc not opened for owners", {{Fault::ProcDirectoryOpen, EMFILE}}, Outcome::Complete, false, false},
        {"fd directories not opened", {{Fault::FdDirectoryOpen, EACCES}}, Outcome::Complete, false, false},
        {"directory entries not read", {{Fault::DirectoryRead, EIO}}, Outcome::Complete, false, false},
        {"fd links not read", {{Fault::FdLinkRead, EACCES}}, Outcome::Complete, false, false},
        {"process directory denied", {{Fault::ProcessOpen, EACCES}}, Outcome::Complete, true, false},
        {"process gone", {{Fault::ProcessOpen, ENOENT}}, Outcome::Complete, true, false},
        {"exe link denied", {{Fault::ExeLinkRead, EACCES}}, Outcome::Complete, true, false},
        {"exe link gone", {{Fault::ExeLinkRead, ENOENT}}, Outcome::Complete, true, false},
        {"capability sets not read", {{Fault::CapabilityGet, EPERM}}, Outcome::Complete, true, true},
        {"systemd not found", {{Fault::SystemdCheck, ENOENT}}, Outcome::Complete, true, true},
        {"every process call after the table",
         {{Fault::ProcessOpen, EACCES}, {Fault::ProcFileOpen, EACCES}},
         Outcome::Complete, true, false},
    };
    for (const LiveCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        HeldSockets held;
        ASSERT_TRUE(held.Held()) << "cannot bind loopback sockets";
        const ReportRun run = RunReportWithFaults(testCase.faults);
        // A fault that never fired would make the case prove nothing.
        for (const FaultPlan& plan : testCase.faults)
            EXPECT_GE(layer::FaultFailed(plan.fault), 1u) << "fault " << static_cast<int>(plan.fault) << " never fired";
        if (testCase.outcome == Outcome::FirstSectionFatal) {
            EXPECT_TRUE(EndsWithSizeProbeLine(run, 0));
            EXPECT_EQ(run.text, kFirstSectionFatal);
            continue;
        }
        ASSERT_TRUE(IsCompleteReport(run));
        ExpectHeldSockets(run, held, testCase.ownerKnown, testCase.imagePath);
    }
}

// capset is only called when the capabilities must change, so they are
// lowered first; the failed raise leaves a complete report.
TEST(LiveFaultTest, FailingCapsetLeavesACompleteReport) {
    if (layer::RaiseDebugCapabilities() != layer::CapabilityChange::Done)
        GTEST_SKIP() << "the debug capabilities are not held";
    ASSERT_EQ(layer::LowerDebugCapabilities(), layer::CapabilityChange::Done);
    HeldSockets held;
    ASSERT_TRUE(held.Held());
    const ReportRun run = RunReportWithFaults({{Fault::CapabilitySet, EPERM}});
    const unsigned failed = layer::FaultFailed(Fault::CapabilitySet);
    const bool effective = layer::DebugCapabilitiesEffective();
    layer::RaiseDebugCapabilities();
    EXPECT_GE(failed, 1u);
    EXPECT_FALSE(effective);
    ASSERT_TRUE(IsCompleteReport(run));
    // Root reads its own /proc entries without the capabilities.
    ExpectHeldSockets(run, held, true, true);
}

}  // namespace
}  // namespace lystrel::test
