// The whole report over a fixture machine while one call of the layer fails:
// which detail each failure takes away, and which failures end the report.
#include <cerrno>
#include <string>

#include "expected_text.h"
#include "fixture_machine.h"
#include "report_run.h"

namespace lystrel::test {
namespace {

using layer::Fault;

struct ExpectedBlock {
    size_t section;
    int port;
    const char* address;
    uint32_t pid;
};

const ExpectedBlock kBlocks[] = {
    {0, 22, "0.0.0.0", kLinkedPid}, {0, 8080, "127.0.0.1", kDemoPid}, {1, 5353, "127.0.0.1", kDemoPid},
    {2, 8443, "[::1]", kLinkedPid}, {3, 5355, "[::1]", kDemoPid},
};

struct FixtureCase {
    const char* name;
    std::vector<FaultPlan> faults;
    bool fatal;
    bool ownersKnown;
    bool imagePaths;
    /// The display names printed for the two services; null when the blocks
    /// carry no service lines.
    const char* demoDisplay;
    const char* linkedDisplay;
};

std::vector<std::string> ServiceLines(const char* display, const char* name) {
    if (display == nullptr) return {};
    return {std::string("  - Service display name        : ") + display,
            std::string("  - Service name                : ") + name};
}

void ExpectBlocks(const ReportRun& run, const FixtureCase& testCase) {
    EXPECT_EQ(run.parsed.blocks.size(), std::size(kBlocks)) << run.text;
    for (const ExpectedBlock& expected : kBlocks) {
        SCOPED_TRACE(expected.port);
        const std::vector<ReportBlock> blocks = BlocksWithPort(run.parsed, kSectionNames[expected.section], expected.port);
        ASSERT_EQ(blocks.size(), 1u) << run.text;
        const ReportBlock& block = blocks.front();
        const bool demo = expected.pid == kDemoPid;
        EXPECT_EQ(block.address, expected.address);
        EXPECT_EQ(block.pid, testCase.ownersKnown ? static_cast<long>(expected.pid) : 0L);
        if (testCase.imagePaths) {
            EXPECT_EQ(block.imagePath, std::optional<std::string>(demo ? kDemoImage : kLinkedImage));
        } else {
            EXPECT_EQ(block.imagePath, std::nullopt);
        }
        const std::vector<std::string> services =
            demo ? ServiceLines(testCase.demoDisplay, "demo") : ServiceLines(testCase.linkedDisplay, "linked");
        EXPECT_EQ(block.serviceLines, testCase.ownersKnown ? services : std::vector<std::string>());
        EXPECT_FALSE(block.openedAt.empty());
    }
}

TEST(FixtureFaultTest, EachFailingCallTakesAwayItsDetailOnly) {
    const char* const demo = "Demo daemon overridden";
    const char* const linked = "Linked daemon";
    const FixtureCase cases[] = {
        {"no fault", {}, false, true, true, demo, linked},
        {"/proc/net not opened", {{Fault::ProcFileOpen, EACCES}}, true, false, false, nullptr, nullptr},
        {"/proc/net/tcp not opened", {{Fault::ProcFileOpen, ENOENT, 1}}, true, false, false, nullptr, nullptr},
        {"/proc/net not read", {{Fault::ProcFileRead, EIO}}, true, false, false, nullptr, nullptr},
        {"/proc/net/tcp not read", {{Fault::ProcFileRead, EIO, 1}}, true, false, false, nullptr, nullptr},
        {"/proc not opened for owners", {{Fault::ProcDirectoryOpen, EMFILE}}, false, false, false, nullptr, nullptr},
        {"fd directories not opened", {{Fault::FdDirectoryOpen, EACCES}}, false, false, false, nullptr, nullptr},
        {"directory entries not read", {{Fault::DirectoryRead, EIO}}, false, false, false, nullptr, nullptr},
        {"fd links not read", {{Fault::FdLinkRead, EACCES}}, false, false, false, nullptr, nullptr},
        {"process directories not opened", {{Fault::ProcessOpen, EACCES}}, false, true, false, demo, linked},
        {"exe links not read", {{Fault::ExeLinkRead, ENOENT}}, false, true, false, demo, linked},
        {"systemd not running", {{Fault::SystemdCheck, ENOENT}}, false, true, true, nullptr, nullptr},
        {"/proc not listed for services", {{Fault::ServiceProcListing, EMFILE}}, false, true, true, nullptr, nullptr},
        {"/proc entries not read for services", {{Fault::ServiceProcEntry, EIO}}, false, true, true, nullptr, nullptr},
        {"control groups not opened", {{Fault::CgroupFileOpen, EACCES}}, false, true, true, nullptr, nullptr},
        {"control groups not read", {{Fault::CgroupFileRead, EIO}}, false, true, true, nullptr, nullptr},
        {"unit files not found", {{Fault::UnitFileStat, EACCES}}, false, true, true, "demo", "linked"},
        {"unit files not opened", {{Fault::UnitFileOpen, EACCES}}, false, true, true, "demo", "linked"},
        {"unit files not read", {{Fault::UnitFileRead, EIO}}, false, true, true, "demo", "linked"},
        {"unit file link not read", {{Fault::UnitFileLinkRead, EACCES}}, false, true, true, demo, "linked"},
        {"drop-in directories not opened", {{Fault::DropInDirectoryOpen, EACCES}}, false, true, true, "Demo daemon", linked},
        {"drop-in entries not read", {{Fault::DropInDirectoryEntry, EIO}}, false, true, true, "Demo daemon", linked},
        {"capability sets not read", {{Fault::CapabilityGet, EPERM}}, false, true, true, demo, linked},
    };
    for (const FixtureCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        FixtureTree tree;
        BuildFixtureMachine(tree, 0);
        RootGuard root(tree.Path());
        const ReportRun run = RunReportWithFaults(testCase.faults);
        for (const FaultPlan& plan : testCase.faults)
            EXPECT_GE(layer::FaultFailed(plan.fault), 1u) << "fault " << static_cast<int>(plan.fault) << " never fired";
        if (testCase.fatal) {
            EXPECT_TRUE(EndsWithSizeProbeLine(run, 0));
            EXPECT_EQ(run.text, testing::kBanner + testing::kHeaderIPv4TCP +
                                    "Error: Unable to determine buffer size IP v4 TCP\n");
            continue;
        }
        ASSERT_TRUE(IsCompleteReport(run));
        ExpectBlocks(run, testCase);
    }
}

// A start time that cannot be read gives the boot time: the block of the
// process whose stat is missing shows a different opening time than before.
TEST(FixtureFaultTest, UnreadableStartTimeFallsBackToBootTime) {
    std::string opened[2];
    for (int faulted = 0; faulted < 2; ++faulted) {
        FixtureTree tree;
        BuildFixtureMachine(tree, 0);
        RootGuard root(tree.Path());
        // Reads in order: /proc/net/tcp, then the stat of the owner of its
        // first row, port 8080.
        std::vector<FaultPlan> faults;
        if (faulted) faults.push_back({Fault::ProcFileOpen, ENOENT, 2});
        const ReportRun run = RunReportWithFaults(faults);
        ASSERT_TRUE(IsCompleteReport(run));
        if (faulted) {
            EXPECT_EQ(layer::FaultFailed(Fault::ProcFileOpen), 1u);
        }
        const std::vector<ReportBlock> blocks = BlocksWithPort(run.parsed, kSectionNames[0], 8080);
        ASSERT_EQ(blocks.size(), 1u);
        opened[faulted] = blocks.front().openedAt;
    }
    EXPECT_NE(opened[0], opened[1]);
}

}  // namespace
}  // namespace lystrel::test
