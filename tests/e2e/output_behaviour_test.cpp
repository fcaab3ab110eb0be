// How the native program behaves as a command: exit status, line ends,
// arguments, and standard output that goes away or fills up.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "report_blocks.h"
#include "run_program.h"

namespace {

using lystrel::test::ProgramRun;
using lystrel::test::RunProgram;
using lystrel::test::StdoutTarget;

const char kBanner[] =
    "Lystrel 2.0 - who listens on which port of this machine\n"
    "            - https://lystrel.dev/\n"
    "\n";

TEST(NativeProgram, ExitsZeroWithLfLinesAndNothingOnStandardError) {
    const ProgramRun run = RunProgram(LYSTREL_BINARY, {});
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0u, run.out.rfind(kBanner, 0));
    EXPECT_EQ(std::string::npos, run.out.find('\r'));
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ('\n', run.out.back());
    EXPECT_EQ(std::string::npos, run.out.find("Error:"));
}

// A listener that stays open while the program runs twice, so both reports
// must show the same block for it.
TEST(NativeProgram, ArgumentsChangeNothing) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), length));
    ASSERT_EQ(0, listen(fd, 1));
    ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length));
    const int port = ntohs(address.sin_port);

    const ProgramRun plain = RunProgram(LYSTREL_BINARY, {});
    const ProgramRun withArguments = RunProgram(LYSTREL_BINARY, {"--help", "-x", "/etc/passwd", "-h"});
    close(fd);
    ASSERT_TRUE(withArguments.exited);
    EXPECT_EQ(0, withArguments.exitStatus);
    EXPECT_EQ("", withArguments.err);
    const auto first = lystrel::test::ParseReport(plain.out);
    const auto second = lystrel::test::ParseReport(withArguments.out);
    EXPECT_EQ(first.sections, second.sections);
    EXPECT_EQ(0u, withArguments.out.rfind(kBanner, 0));
    const auto before = lystrel::test::BlocksWithPort(first, "- IPv4 TCP ports -", port);
    const auto after = lystrel::test::BlocksWithPort(second, "- IPv4 TCP ports -", port);
    ASSERT_EQ(1u, before.size());
    ASSERT_EQ(1u, after.size());
    EXPECT_EQ(before[0].address, after[0].address);
    EXPECT_EQ(before[0].pid, after[0].pid);
    EXPECT_EQ(before[0].imagePath, after[0].imagePath);
    EXPECT_EQ(before[0].openedAt, after[0].openedAt);
}

TEST(NativeProgram, AReaderThatGoesAwayOrAFullDiskStillExitsZero) {
    struct Case {
        const char* name;
        StdoutTarget target;
    } cases[] = {
        {"read end closed at once", StdoutTarget::ClosedPipe},
        {"first line only", StdoutTarget::FirstLineOnly},
        {"/dev/full", StdoutTarget::FullDevice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.target == StdoutTarget::FullDevice && access("/dev/full", W_OK) != 0) {
            ADD_FAILURE() << "/dev/full is missing";
            continue;
        }
        const ProgramRun run = RunProgram(LYSTREL_BINARY, {}, c.target);
        ASSERT_TRUE(run.started);
        EXPECT_TRUE(run.exited) << "ended by signal " << run.signal;
        EXPECT_EQ(0, run.exitStatus);
        EXPECT_EQ("", run.err);
        if (c.target == StdoutTarget::FirstLineOnly) {
            EXPECT_EQ("Lystrel 2.0 - who listens on which port of this machine\n", run.out);
        }
    }
}

}  // namespace
