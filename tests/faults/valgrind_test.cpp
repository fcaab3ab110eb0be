// The native program under valgrind: no memory error and no lost block, on
// an idle machine and while the test holds a few hundred loopback sockets.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loopback_sockets.h"
#include "run_program.h"

namespace lystrel::test {
namespace {

// The valgrind found on PATH; empty when there is none.
std::string FindValgrind() {
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= directories.size()) {
        size_t end = directories.find(':', begin);
        if (end == std::string::npos) end = directories.size();
        const std::string candidate = directories.substr(begin, end - begin) + "/valgrind";
        if (end > begin && access(candidate.c_str(), X_OK) == 0) return candidate;
        begin = end + 1;
    }
    return std::string();
}

TEST(ValgrindTest, NativeProgramHasNoMemoryErrorsOrLeaks) {
    const std::string valgrind = FindValgrind();
    if (valgrind.empty()) GTEST_SKIP() << "valgrind is not installed";
    const struct {
        const char* name;
        int socketsPerKind;
    } cases[] = {{"idle", 0}, {"300 sockets held", 75}};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        std::vector<LoopbackSocket> sockets;
        for (int index = 0; index < testCase.socketsPerKind; ++index) {
            sockets.push_back(OpenTcpListener(false));
            sockets.push_back(OpenUdpSocket(false));
            sockets.push_back(OpenTcpListener(true));
            sockets.push_back(OpenUdpSocket(true));
        }
        bool held = true;
        for (const LoopbackSocket& socket : sockets) held = held && socket.fd >= 0;
        const ProgramRun run =
            held ? RunProgram(valgrind, {"--quiet", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect",
                                         "--error-exitcode=3", LYSTREL_BINARY})
                 : ProgramRun();
        for (LoopbackSocket& socket : sockets) CloseSocket(socket);
        ASSERT_TRUE(held) << "cannot bind loopback sockets";
        ASSERT_TRUE(run.started);
        ASSERT_TRUE(run.exited) << "signal " << run.signal;
        // 3 is valgrind's status for errors or lost blocks.
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.rfind("Lystrel 2.0 - ", 0), 0u);
        for (const LoopbackSocket& socket : sockets)
            EXPECT_NE(run.out.find("\n" + std::to_string(socket.port) + " "), std::string::npos);
    }
}

}  // namespace
}  // namespace lystrel::test
