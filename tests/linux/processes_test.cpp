// OpenProcess and QueryFullProcessImageNameA over fixture trees and the
// live /proc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "fixture_tree.h"
#include "layer.h"
#include "win32.h"

namespace {

using lystrel::test::FixtureTree;
using lystrel::test::RootGuard;

// The image path of pid, or the error code as text.
std::string ImageOf(DWORD pid, DWORD bufferSize = MAX_PATH) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == nullptr) return "open error " + std::to_string(GetLastError());
    std::string buffer(bufferSize, 'X');
    DWORD length = bufferSize;
    const BOOL ok = QueryFullProcessImageNameA(process, 0, &buffer[0], &length);
    const DWORD error = GetLastError();
    EXPECT_TRUE(CloseHandle(process));
    if (!ok) return "query error " + std::to_string(error);
    EXPECT_EQ(std::strlen(buffer.c_str()), length);
    return buffer.substr(0, length);
}

TEST(OpenProcess, PidZeroAndMissingPidsGive87) {
    FixtureTree tree;
    tree.Link("/proc/42/exe", "/usr/bin/a");
    RootGuard root(tree.Path());
    for (DWORD pid : {0u, 43u, 4294967295u}) {
        SCOPED_TRACE(pid);
        SetLastError(0);
        EXPECT_EQ(nullptr, OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
        EXPECT_EQ(87u, GetLastError());
    }
}

TEST(QueryFullProcessImageNameA, TheExeLinkWithControlBytesEscaped) {
    FixtureTree tree;
    tree.Link("/proc/42/exe", "/usr/sbin/daemon");
    tree.Link("/proc/43/exe", "/tmp/evil\nname\x1b[31m");
    tree.Link("/proc/44/exe", "/opt/back\\slash (deleted)");
    tree.MakeFolder("/proc/45");  // a kernel thread: no exe link
    RootGuard root(tree.Path());
    EXPECT_EQ("/usr/sbin/daemon", ImageOf(42));
    EXPECT_EQ("/tmp/evil\\x0aname\\x1b[31m", ImageOf(43));
    EXPECT_EQ("/opt/back\\\\slash (deleted)", ImageOf(44));
    EXPECT_EQ("query error 2", ImageOf(45));
}

TEST(QueryFullProcessImageNameA, PathMustFitWithItsNul) {
    FixtureTree tree;
    const std::string fits = "/" + std::string(258, 'a');    // 259 characters
    const std::string tooLong = "/" + std::string(259, 'b');  // 260 characters
    tree.Link("/proc/42/exe", fits);
    tree.Link("/proc/43/exe", tooLong);
    tree.Link("/proc/44/exe", "/x\n");  // 3 bytes that escape to 6
    RootGuard root(tree.Path());
    EXPECT_EQ(fits, ImageOf(42));
    EXPECT_EQ("query error 122", ImageOf(43));
    EXPECT_EQ("query error 122", ImageOf(44, 6));
    EXPECT_EQ("/x\\x0a", ImageOf(44, 7));
}

TEST(QueryFullProcessImageNameA, BadHandlesAndArguments) {
    char buffer[MAX_PATH];
    DWORD length = MAX_PATH;
    SetLastError(0);
    EXPECT_FALSE(QueryFullProcessImageNameA(nullptr, 0, buffer, &length));
    EXPECT_EQ(6u, GetLastError());
    int notAHandle;
    EXPECT_FALSE(QueryFullProcessImageNameA(&notAHandle, 0, buffer, &length));
    EXPECT_EQ(6u, GetLastError());

    HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(getpid()));
    ASSERT_NE(nullptr, self);
    EXPECT_FALSE(QueryFullProcessImageNameA(self, 0, buffer, nullptr));
    EXPECT_EQ(87u, GetLastError());
    EXPECT_FALSE(QueryFullProcessImageNameA(self, 0, nullptr, &length));
    EXPECT_EQ(87u, GetLastError());
    ASSERT_TRUE(CloseHandle(self));
    SetLastError(0);
    EXPECT_FALSE(QueryFullProcessImageNameA(self, 0, buffer, &length));
    EXPECT_EQ(6u, GetLastError());
}

TEST(QueryFullProcessImageNameA, OurOwnImageOnTheLiveSystem) {
    char expected[4096];
    const ssize_t length = readlink("/proc/self/exe", expected, sizeof expected - 1);
    ASSERT_GT(length, 0);
    expected[length] = '\0';
    EXPECT_EQ(std::string(expected), ImageOf(static_cast<DWORD>(getpid()), 4096));
}

// Runs unprivileged: pid 42's folder may not be read at all, pid 43's may be
// listed but not entered, so its exe link cannot be read.
int CheckDeniedProcesses(const std::string& rootPath) {
    lystrel::layer::SetRoot(rootPath);
    SetLastError(0);
    if (OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 42) != nullptr) return 1;
    if (GetLastError() != ERROR_ACCESS_DENIED) return 2;
    if (ImageOf(43) != "query error 5") return 3;
    return 0;
}

TEST(OpenProcess, ProcessesTheCallerMayNotReadGive5) {
    FixtureTree tree;
    tree.Link("/proc/42/exe", "/usr/bin/a");
    tree.Link("/proc/43/exe", "/usr/bin/b");
    tree.Mode("/proc/42", 0);
    tree.Mode("/proc/43", 0644);
    tree.Mode("", 0755);
    if (getuid() != 0 && geteuid() != 0 && access((tree.Path() + "/proc/42").c_str(), R_OK) == 0)
        GTEST_SKIP() << "permissions are not enforced for this user";
    EXPECT_EQ(0, lystrel::test::RunUnprivileged(CheckDeniedProcesses, tree.Path()));
}

}  // namespace
