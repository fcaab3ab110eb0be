// The standard-output sink, checked in a child process whose standard output
// is a temporary file. The child ends with _exit, which skips the C runtime's
// own flushing at exit, so the file holds only what the sink pushed out.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "expected_text.h"
#include "scripted_queries.h"

namespace lystrel::testing {
namespace {

struct ChildResult {
    int exitStatus = -1;
    std::string output;
};

// Runs body in a child whose standard output is a fresh temporary file; the
// child ends with _exit(body's result). Returns the exit status and the file.
ChildResult RunWithStdoutInFile(const std::function<int()>& body) {
    ChildResult result;
    std::string path = ::testing::TempDir() + "lystrel_stdout_XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        ADD_FAILURE() << "mkstemp failed";
        return result;
    }
    unlink(path.c_str());
    // Anything this process still holds for standard output would otherwise
    // be inherited by the child and written to the file.
    std::fflush(stdout);
    pid_t child = fork();
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        close(fd);
        return result;
    }
    if (child == 0) {
        if (dup2(fd, STDOUT_FILENO) < 0) _exit(100);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        ADD_FAILURE() << "child did not exit normally";
        close(fd);
        return result;
    }
    result.exitStatus = WEXITSTATUS(status);
    char buffer[4096];
    ssize_t count;
    off_t offset = 0;
    while ((count = pread(fd, buffer, sizeof buffer, offset)) > 0) {
        result.output.append(buffer, static_cast<size_t>(count));
        offset += count;
    }
    close(fd);
    return result;
}

TEST(StdoutSink, FlushPushesWrittenBytesOut) {
    ChildResult result = RunWithStdoutInFile([] {
        StdoutSink sink;
        sink.Write("first\n", 6);
        sink.Write("se\xe9\0nd\n", 7);
        sink.Flush();
        return 0;
    });
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, std::string("first\nse\xe9\0nd\n", 13));
}

// Shows that the child's _exit really drops unflushed output, so the test
// above depends on Flush.
TEST(StdoutSink, UnflushedBytesStayInTheBuffer) {
    ChildResult result = RunWithStdoutInFile([] {
        StdoutSink sink;
        sink.Write("lost\n", 5);
        return 0;
    });
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
}

// A whole run over standard output leaves the process complete, on the normal
// path as after a fatal error.
TEST(StdoutSink, WholeRunReachesTheFile) {
    struct Case {
        const char* name;
        bool failFetch;
        int exitStatus;
        std::string output;
    };
    const std::string block =
        "8000 TCP\n"
        "\n"
        "  - Listening at IP address     : 127.0.0.1\n"
        "  - Responsible process PID     : 321\n"
        "  - Port opened at (local time) : 2015-06-07 8:9\n"
        "\n";
    const Case cases[] = {
        {"complete run", false, 0,
         kBanner + kHeaderIPv4TCP + block + kHeaderIPv4UDP + kHeaderIPv6TCP + kHeaderIPv6UDP},
        {"fatal error", true, 1,
         kBanner + kHeaderIPv4TCP + block + kHeaderIPv4UDP +
             "Error: Unable to get ports information IP v4 UDP (122)\n"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        bool failFetch = testCase.failFetch;
        ChildResult result = RunWithStdoutInFile([failFetch] {
            ScriptedQueries queries;
            queries.AddEndpoint(1, {8000, 321, 5, "127.0.0.1", {2015, 6, 7, 8, 9}});
            if (failFetch) queries.FailFetch(2, 122);
            StdoutSink sink;
            return RunReport(queries, sink);
        });
        EXPECT_EQ(result.exitStatus, testCase.exitStatus);
        EXPECT_EQ(result.output, testCase.output);
    }
}

}  // namespace
}  // namespace lystrel::testing
