// Access tokens and the debug privilege over the process's capability sets.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "win32.h"
#include "windows_queries.h"

namespace lystrel {
namespace {

struct Capabilities {
    __user_cap_header_struct header;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
};

Capabilities ReadCapabilities() {
    Capabilities caps;
    std::memset(&caps, 0, sizeof caps);
    caps.header.version = _LINUX_CAPABILITY_VERSION_3;
    EXPECT_EQ(syscall(SYS_capget, &caps.header, caps.data), 0);
    return caps;
}

bool WriteCapabilities(Capabilities caps) {
    caps.header.version = _LINUX_CAPABILITY_VERSION_3;
    caps.header.pid = 0;
    return syscall(SYS_capset, &caps.header, caps.data) == 0;
}

bool Has(const Capabilities& caps, int capability, bool effective) {
    const __user_cap_data_struct& word = caps.data[capability / 32];
    return ((effective ? word.effective : word.permitted) >> (capability % 32)) & 1;
}

void Clear(Capabilities& caps, int capability, bool permittedToo) {
    __user_cap_data_struct& word = caps.data[capability / 32];
    word.effective &= ~(1u << (capability % 32));
    if (permittedToo) word.permitted &= ~(1u << (capability % 32));
}

bool HoldsDebugCapabilities() {
    const Capabilities caps = ReadCapabilities();
    return Has(caps, CAP_SYS_PTRACE, false) && Has(caps, CAP_DAC_READ_SEARCH, false);
}

// Runs `body` in a child process, so that capability changes stay there; the
// child reports a failure as text through a pipe.
void RunInChild(const std::function<std::string()>& body) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        const std::string failure = body();
        if (!failure.empty()) (void)!write(fds[1], failure.data(), failure.size());
        close(fds[1]);
        _exit(failure.empty() ? 0 : 1);
    }
    close(fds[1]);
    std::string failure;
    char chunk[256];
    ssize_t got;
    while ((got = read(fds[0], chunk, sizeof chunk)) > 0) failure.append(chunk, static_cast<size_t>(got));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TOKEN_PRIVILEGES DebugPrivilegeEnabled() {
    TOKEN_PRIVILEGES privileges;
    std::memset(&privileges, 0, sizeof privileges);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = {20, 0};
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return privileges;
}

// Opens the token, asks for the debug privilege and reports the result and
// last error as text, with the effective debug capabilities afterwards.
std::string AdjustAndDescribe() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return "open failed";
    TOKEN_PRIVILEGES privileges = DebugPrivilegeEnabled();
    const BOOL result = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(token);
    const Capabilities caps = ReadCapabilities();
    return std::to_string(result) + "/" + std::to_string(error) + " ptrace " +
           std::to_string(Has(caps, CAP_SYS_PTRACE, true)) + " dac " +
           std::to_string(Has(caps, CAP_DAC_READ_SEARCH, true));
}

TEST(LookupPrivilegeValueA, KnowsTheDebugPrivilegeOnly) {
    struct Case {
        const char* system;
        const char* name;
        BOOL result;
        DWORD error;
    };
    const Case cases[] = {
        {nullptr, "SeDebugPrivilege", TRUE, 0},
        {"", "sedebugprivilege", TRUE, 0},
        {nullptr, "SeShutdownPrivilegeX", FALSE, ERROR_NO_SUCH_PRIVILEGE},
        {nullptr, "SeDebugPrivilege ", FALSE, ERROR_NO_SUCH_PRIVILEGE},
        {nullptr, "", FALSE, ERROR_NO_SUCH_PRIVILEGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LUID luid = {7, 7};
        SetLastError(99);
        EXPECT_EQ(LookupPrivilegeValueA(c.system, c.name, &luid), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        if (c.result) {
            EXPECT_EQ(luid.LowPart, 20u);
            EXPECT_EQ(luid.HighPart, 0);
        }
    }
    LUID luid;
    EXPECT_FALSE(LookupPrivilegeValueA("remotehost", "SeDebugPrivilege", &luid));
}

TEST(OpenProcessToken, OpensOnlyTheCurrentProcess) {
    int notAHandle = 0;
    for (HANDLE process : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&notAHandle)}) {
        HANDLE token = &notAHandle;
        SetLastError(0);
        EXPECT_FALSE(OpenProcessToken(process, TOKEN_ADJUST_PRIVILEGES, &token));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    EXPECT_NE(token, nullptr);
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(CloseHandle(token));
}

TEST(AdjustTokenPrivileges, RejectsBadTokens) {
    TOKEN_PRIVILEGES privileges = DebugPrivilegeEnabled();
    const Capabilities before = ReadCapabilities();

    HANDLE queryOnly = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &queryOnly));
    HANDLE closed = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &closed));
    ASSERT_TRUE(CloseHandle(closed));
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    ASSERT_NE(manager, nullptr);

    struct Case {
        const char* what;
        HANDLE token;
        DWORD error;
    };
    const Case cases[] = {
        {"null token", nullptr, ERROR_INVALID_HANDLE},
        {"closed token", closed, ERROR_INVALID_HANDLE},
        {"process pseudo-handle", GetCurrentProcess(), ERROR_INVALID_HANDLE},
        {"service manager handle", manager, ERROR_INVALID_HANDLE},
        {"token without adjust rights", queryOnly, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_FALSE(AdjustTokenPrivileges(c.token, FALSE, &privileges, 0, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), c.error);
    }
    const Capabilities after = ReadCapabilities();
    EXPECT_EQ(std::memcmp(before.data, after.data, sizeof before.data), 0);
    EXPECT_TRUE(CloseHandle(queryOnly));
    EXPECT_TRUE(CloseHandle(manager));
}

TEST(AdjustTokenPrivileges, RaisesHeldCapabilitiesIntoTheEffectiveSet) {
    if (!HoldsDebugCapabilities())
        GTEST_SKIP() << "the process does not hold CAP_SYS_PTRACE and CAP_DAC_READ_SEARCH";
    RunInChild([] {
        Capabilities caps = ReadCapabilities();
        Clear(caps, CAP_SYS_PTRACE, false);
        Clear(caps, CAP_DAC_READ_SEARCH, false);
        if (!WriteCapabilities(caps)) return std::string("could not lower the effective set");
        return AdjustAndDescribe() == "1/0 ptrace 1 dac 1" ? std::string() : AdjustAndDescribe();
    });
}

TEST(AdjustTokenPrivileges, ReportsNotAllAssignedWithoutTheCapabilities) {
    struct Case {
        const char* what;
        bool dropPtrace;
        bool dropDac;
        const char* outcome;
    };
    // Raising is all or nothing: with one of the two missing, the other stays
    // as it was, out of the effective set.
    const Case cases[] = {
        {"neither held", true, true, "1/1300 ptrace 0 dac 0"},
        {"only CAP_DAC_READ_SEARCH held", true, false, "1/1300 ptrace 0 dac 0"},
        {"only CAP_SYS_PTRACE held", false, true, "1/1300 ptrace 0 dac 0"},
    };
    const bool held = HoldsDebugCapabilities();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!held && !(c.dropPtrace && c.dropDac)) continue;
        RunInChild([&c] {
            Capabilities caps = ReadCapabilities();
            Clear(caps, CAP_SYS_PTRACE, c.dropPtrace);
            Clear(caps, CAP_DAC_READ_SEARCH, c.dropDac);
            if (!WriteCapabilities(caps)) return std::string("could not drop capabilities");
            const std::string outcome = AdjustAndDescribe();
            return outcome == c.outcome ? std::string() : outcome;
        });
    }
}

TEST(AdjustTokenPrivileges, ReportsThePreviousState) {
    if (!HoldsDebugCapabilities())
        GTEST_SKIP() << "the process does not hold CAP_SYS_PTRACE and CAP_DAC_READ_SEARCH";
    RunInChild([] {
        Capabilities caps = ReadCapabilities();
        Clear(caps, CAP_SYS_PTRACE, false);
        Clear(caps, CAP_DAC_READ_SEARCH, false);
        if (!WriteCapabilities(caps)) return std::string("could not lower the effective set");
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return std::string("open failed");
        TOKEN_PRIVILEGES privileges = DebugPrivilegeEnabled();
        TOKEN_PRIVILEGES previous;
        std::memset(&previous, 0xAB, sizeof previous);
        DWORD length = 0;
        if (AdjustTokenPrivileges(token, FALSE, &privileges, 4, &previous, &length) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER || length != 16)
            return std::string("short buffer accepted");
        if (!AdjustTokenPrivileges(token, FALSE, &privileges, sizeof previous, &previous, &length))
            return std::string("adjust failed");
        if (previous.PrivilegeCount != 1 || previous.Privileges[0].Luid.LowPart != 20 ||
            previous.Privileges[0].Attributes != 0)
            return std::string("previous state wrong");
        // Disabling everything lowers the capabilities again.
        if (!AdjustTokenPrivileges(token, TRUE, nullptr, 0, nullptr, nullptr))
            return std::string("disable failed");
        const Capabilities after = ReadCapabilities();
        if (Has(after, CAP_SYS_PTRACE, true) || Has(after, CAP_DAC_READ_SEARCH, true))
            return std::string("still effective");
        CloseHandle(token);
        return std::string();
    });
}

TEST(EnableDebugPrivilege, LeavesTheCapabilitiesEffectiveWhenHeld) {
    if (!HoldsDebugCapabilities())
        GTEST_SKIP() << "the process does not hold CAP_SYS_PTRACE and CAP_DAC_READ_SEARCH";
    RunInChild([] {
        Capabilities caps = ReadCapabilities();
        Clear(caps, CAP_SYS_PTRACE, false);
        Clear(caps, CAP_DAC_READ_SEARCH, false);
        if (!WriteCapabilities(caps)) return std::string("could not lower the effective set");
        WindowsSystemQueries queries;
        queries.EnableDebugPrivilege();
        const Capabilities after = ReadCapabilities();
        if (!Has(after, CAP_SYS_PTRACE, true) || !Has(after, CAP_DAC_READ_SEARCH, true))
            return std::string("not raised");
        return std::string();
    });
}

}  // namespace
}  // namespace lystrel
