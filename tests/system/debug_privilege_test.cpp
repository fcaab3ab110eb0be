// EnableDebugPrivilege over the scripted token functions: the calls, their
// arguments, and the token closed whether or not the lookup succeeded.
#include <vector>

#include "system_fixture.h"

namespace lystrel {
namespace {

using DebugPrivilegeTest = SystemTest;
using fake::Function;

TEST_F(DebugPrivilegeTest, EnablesThePrivilegeInTheOwnToken) {
    const HANDLE token = fake::FakeHandle(0x7A8);
    win32.openProcessToken.fallback.token = token;
    win32.lookupPrivilege.fallback.luid = {0x14, 0x7};

    queries.EnableDebugPrivilege();

    const std::vector<Function> order = {Function::GetCurrentProcess, Function::OpenProcessToken,
                                         Function::LookupPrivilegeValueA, Function::AdjustTokenPrivileges,
                                         Function::CloseHandle};
    EXPECT_EQ(win32.sequence, order);
    ASSERT_EQ(win32.openProcessTokenCalls.size(), 1u);
    EXPECT_EQ(win32.openProcessTokenCalls[0].process, fake::CurrentProcessHandle());
    EXPECT_EQ(win32.openProcessTokenCalls[0].access, 0x20u);
    EXPECT_FALSE(win32.openProcessTokenCalls[0].tokenNull);

    ASSERT_EQ(win32.lookupPrivilegeCalls.size(), 1u);
    EXPECT_TRUE(win32.lookupPrivilegeCalls[0].systemNameNull);
    EXPECT_EQ(win32.lookupPrivilegeCalls[0].name, "SeDebugPrivilege");
    EXPECT_FALSE(win32.lookupPrivilegeCalls[0].luidNull);

    ASSERT_EQ(win32.adjustPrivilegesCalls.size(), 1u);
    const fake::AdjustPrivilegesCall& adjust = win32.adjustPrivilegesCalls[0];
    EXPECT_EQ(adjust.token, token);
    EXPECT_EQ(adjust.disableAll, FALSE);
    ASSERT_FALSE(adjust.newStateNull);
    EXPECT_EQ(adjust.newState.PrivilegeCount, 1u);
    EXPECT_EQ(adjust.newState.Privileges[0].Luid.LowPart, 0x14u);
    EXPECT_EQ(adjust.newState.Privileges[0].Luid.HighPart, 0x7);
    EXPECT_EQ(adjust.newState.Privileges[0].Attributes, 2u);
    EXPECT_EQ(adjust.bufferLength, 0u);
    EXPECT_TRUE(adjust.previousStateNull);
    EXPECT_TRUE(adjust.returnLengthNull);

    ASSERT_EQ(win32.closeHandleCalls.size(), 1u);
    EXPECT_EQ(win32.closeHandleCalls[0].handle, token);
}

TEST_F(DebugPrivilegeTest, NothingElseWhenTheTokenCannotBeOpened) {
    win32.Fail(Function::OpenProcessToken, 0, ERROR_ACCESS_DENIED);

    queries.EnableDebugPrivilege();

    const std::vector<Function> order = {Function::GetCurrentProcess, Function::OpenProcessToken};
    EXPECT_EQ(win32.sequence, order);
}

TEST_F(DebugPrivilegeTest, TokenClosedWithoutAdjustingWhenTheLookupFails) {
    const HANDLE token = fake::FakeHandle(0x7AC);
    win32.openProcessToken.fallback.token = token;
    win32.Fail(Function::LookupPrivilegeValueA, 0, ERROR_NO_SUCH_PRIVILEGE);

    queries.EnableDebugPrivilege();

    EXPECT_TRUE(win32.adjustPrivilegesCalls.empty());
    ASSERT_EQ(win32.closeHandleCalls.size(), 1u);
    EXPECT_EQ(win32.closeHandleCalls[0].handle, token);
}

// A caller without the privilege sees TRUE with 1300, or a failure; either
// way the run goes on and the token is closed.
TEST_F(DebugPrivilegeTest, TokenClosedWhateverTheAdjustmentAnswers) {
    struct AdjustCase {
        BOOL result;
        DWORD lastError;
    };
    const AdjustCase cases[] = {{TRUE, ERROR_NOT_ALL_ASSIGNED}, {FALSE, ERROR_ACCESS_DENIED}};
    for (const AdjustCase& entry : cases) {
        SCOPED_TRACE(entry.lastError);
        fake::Reset();
        win32.adjustPrivileges.fallback = {entry.result, entry.lastError};

        queries.EnableDebugPrivilege();

        EXPECT_EQ(win32.adjustPrivilegesCalls.size(), 1u);
        ASSERT_EQ(win32.closeHandleCalls.size(), 1u);
        EXPECT_EQ(win32.closeHandleCalls[0].handle, win32.openProcessToken.fallback.token);
    }
}

}  // namespace
}  // namespace lystrel
