// Faults that strike in the middle of the run, at each occurrence of a call
// in turn: within a table's read, between tables, between processes. Each
// run is either a complete report whose tables hold every row, or ends with
// the failing section's size-probe line; never a table with rows missing.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <set>
#include <vector>

#include "fixture_machine.h"
#include "loopback_sockets.h"
#include "report_run.h"

namespace lystrel::test {
namespace {

using layer::Fault;

// How often the run reaches calls of the kind, with nothing failing.
unsigned CountCalls(Fault fault, const std::vector<FaultPlan>& others = {}) {
    std::vector<FaultPlan> faults = others;
    faults.push_back({fault, EIO, UINT_MAX});
    RunReportWithFaults(faults);
    return layer::FaultReached(fault);
}

bool SameEndpoint(const ReportBlock& a, const ReportBlock& b) {
    return a.section == b.section && a.port == b.port && a.protocol == b.protocol && a.address == b.address;
}

// The run's blocks are the clean run's, or those of the sections before the
// failing one, each with the clean detail or less of it.
void ExpectCleanBlocksOrLess(const ReportRun& run, const ReportRun& clean, size_t sections) {
    std::vector<ReportBlock> expected;
    for (const ReportBlock& block : clean.parsed.blocks)
        for (size_t section = 0; section < sections; ++section)
            if (block.section == kSectionNames[section]) expected.push_back(block);
    ASSERT_EQ(run.parsed.blocks.size(), expected.size()) << run.text;
    for (size_t index = 0; index < expected.size(); ++index) {
        const ReportBlock& block = run.parsed.blocks[index];
        const ReportBlock& want = expected[index];
        ASSERT_TRUE(SameEndpoint(block, want)) << "block " << index << " port " << block.port;
        EXPECT_TRUE(block.pid == want.pid || block.pid == 0) << block.port;
        EXPECT_TRUE(!block.imagePath || block.imagePath == want.imagePath) << block.port;
        if (!block.serviceLines.empty()) {
            // The display name may fall back to the service name; the service
            // name itself never changes.
            ASSERT_EQ(block.serviceLines.size(), want.serviceLines.size()) << block.port;
            for (size_t line = 1; line < block.serviceLines.size(); line += 2)
                EXPECT_EQ(block.serviceLines[line], want.serviceLines[line]);
        }
        EXPECT_FALSE(block.openedAt.empty());
    }
}

// Every kind of call, failing at each of its occurrences in turn, over a
// fixture machine whose /proc/net files take several reads each.
TEST(MidTableFaultTest, AnyCallFailingAtAnyOccurrenceOnAFixtureMachine) {
    constexpr unsigned kUnownedRows = 40;
    ReportRun clean;
    {
        FixtureTree tree;
        BuildFixtureMachine(tree, kUnownedRows);
        RootGuard root(tree.Path());
        clean = RunReportWithFaults({});
    }
    ASSERT_TRUE(IsCompleteReport(clean));
    ASSERT_EQ(clean.parsed.blocks.size(), 5 + 4 * kUnownedRows);

    // Netlink is for the live kernel only, and capset is needed only where
    // the capabilities must change: those kinds are not reached here.
    const std::set<Fault> unreached = {Fault::NetlinkSocket, Fault::NetlinkSend, Fault::NetlinkReceive,
                                       Fault::CapabilitySet};
    std::set<int> fatalSections;
    unsigned runs = 0;
    for (int kind = 0; kind < static_cast<int>(Fault::Count); ++kind) {
        const Fault fault = static_cast<Fault>(kind);
        SCOPED_TRACE(::testing::Message() << "fault " << kind);
        unsigned calls;
        {
            FixtureTree tree;
            BuildFixtureMachine(tree, kUnownedRows);
            RootGuard root(tree.Path());
            calls = CountCalls(fault);
        }
        EXPECT_EQ(calls == 0, unreached.count(fault) == 1) << calls << " calls";
        for (unsigned occurrence = 1; occurrence <= calls; ++occurrence) {
            SCOPED_TRACE(::testing::Message() << "occurrence " << occurrence);
            FixtureTree tree;
            BuildFixtureMachine(tree, kUnownedRows);
            RootGuard root(tree.Path());
            const ReportRun run = RunReportWithFaults({{fault, EIO, occurrence}});
            ++runs;
            ASSERT_EQ(layer::FaultFailed(fault), 1u);
            const int failed = FailedSection(run);
            if (failed >= 0) {
                fatalSections.insert(failed);
                ASSERT_TRUE(EndsWithSizeProbeLine(run, static_cast<size_t>(failed)));
                ExpectCleanBlocksOrLess(run, clean, static_cast<size_t>(failed));
            } else {
                ASSERT_TRUE(IsCompleteReport(run));
                ExpectCleanBlocksOrLess(run, clean, 4);
            }
        }
    }
    // Each table's file fails in its turn, so each section ends a run once.
    EXPECT_EQ(fatalSections, (std::set<int>{0, 1, 2, 3}));
    EXPECT_GT(runs, 50u);
}

// A file of /proc/net failing at its second or later read, mid-table, must
// not leave the rows of its first read in the report.
TEST(MidTableFaultTest, ProcNetReadFailingMidFileListsNoRowOfIt) {
    FixtureTree cleanTree;
    BuildFixtureMachine(cleanTree, 200);
    ReportRun clean;
    {
        RootGuard root(cleanTree.Path());
        clean = RunReportWithFaults({});
    }
    ASSERT_TRUE(IsCompleteReport(clean));
    FixtureTree tree;
    BuildFixtureMachine(tree, 200);
    RootGuard root(tree.Path());
    // The first file is /proc/net/tcp, some 30 kB: its second read is mid-file.
    const ReportRun run = RunReportWithFaults({{Fault::ProcFileRead, EIO, 2}});
    EXPECT_EQ(layer::FaultFailed(Fault::ProcFileRead), 1u);
    EXPECT_TRUE(EndsWithSizeProbeLine(run, 0));
    EXPECT_TRUE(run.parsed.blocks.empty());
}

// The live kernel's dump over netlink, failing at each receive in turn while
// the test holds a few hundred sockets, so that a table's dump spans several
// datagrams. Falling back to /proc/net completes the table; when /proc/net
// fails too, the section's size-probe line ends the report.
TEST(MidTableFaultTest, NetlinkReceiveFailingAtEachDatagram) {
    std::vector<LoopbackSocket> sockets;
    for (int index = 0; index < 300; ++index) sockets.push_back(OpenUdpSocket(false));
    for (int index = 0; index < 60; ++index) sockets.push_back(OpenTcpListener(index % 2 == 1));
    struct Closer {
        std::vector<LoopbackSocket>& sockets;
        ~Closer() {
            for (LoopbackSocket& socket : sockets) CloseSocket(socket);
        }
    } closer{sockets};
    for (const LoopbackSocket& socket : sockets) ASSERT_GE(socket.fd, 0) << "cannot bind loopback sockets";
    const size_t sectionOf[] = {1, 0, 2};  // UDP IPv4; TCP IPv4 (even) and IPv6 (odd)

    // Every held socket is listed once, in its section, as held by this process.
    auto expectHeld = [&](const ReportRun& run, size_t sections) {
        for (size_t index = 0; index < sockets.size(); ++index) {
            const size_t section = index < 300 ? sectionOf[0] : sectionOf[1 + (index - 300) % 2];
            if (section >= sections) continue;
            const std::vector<ReportBlock> blocks = BlocksWithPort(run.parsed, kSectionNames[section], sockets[index].port);
            ASSERT_EQ(blocks.size(), 1u) << "socket " << index << " port " << sockets[index].port;
            EXPECT_EQ(blocks.front().pid, static_cast<long>(getpid()));
        }
    };

    const unsigned calls = CountCalls(Fault::NetlinkReceive);
    // At least one datagram and the end of the dump per table.
    ASSERT_GE(calls, 5u);
    unsigned fatalRuns = 0;
    for (unsigned occurrence = 1; occurrence <= calls; ++occurrence) {
        SCOPED_TRACE(::testing::Message() << "receive " << occurrence << " of " << calls);
        const ReportRun fallback = RunReportWithFaults({{Fault::NetlinkReceive, ENOBUFS, occurrence}});
        ASSERT_TRUE(IsCompleteReport(fallback));
        expectHeld(fallback, 4);

        const ReportRun fatal =
            RunReportWithFaults({{Fault::NetlinkReceive, ENOBUFS, occurrence}, {Fault::ProcFileOpen, EACCES}});
        if (layer::FaultFailed(Fault::NetlinkReceive) == 0) {
            // Other programs' sockets may have gone since the count.
            ASSERT_TRUE(IsCompleteReport(fatal));
            continue;
        }
        ++fatalRuns;
        const int failed = FailedSection(fatal);
        ASSERT_GE(failed, 0) << fatal.text;
        ASSERT_TRUE(EndsWithSizeProbeLine(fatal, static_cast<size_t>(failed)));
        expectHeld(fatal, static_cast<size_t>(failed));
        if (occurrence == 1) {
            EXPECT_EQ(failed, 0);
        }
    }
    EXPECT_GE(fatalRuns, calls / 2);
}

}  // namespace
}  // namespace lystrel::test
