// QueryProcessImagePath over the scripted process functions: the arguments,
// the path handed back, and the handle closed on every path that opened one.
#include <string>
#include <vector>

#include "system_fixture.h"

namespace lystrel {
namespace {

using ProcessIdentityTest = SystemTest;
using fake::Function;

TEST_F(ProcessIdentityTest, OpensQueriesAndClosesTheProcess) {
    const uint32_t pids[] = {4, 1184, 0, 0xFFFFFFFFu};
    for (uint32_t pid : pids) {
        SCOPED_TRACE("pid " + std::to_string(pid));
        fake::Reset();
        const HANDLE process = fake::FakeHandle(0x2A0);
        win32.openProcess.fallback.handle = process;
        win32.queryImageName.fallback.path = "C:\\Program Files\\Tool\\tool.exe";

        const std::optional<std::string> path = queries.QueryProcessImagePath(pid);

        ASSERT_TRUE(path.has_value());
        EXPECT_EQ(*path, "C:\\Program Files\\Tool\\tool.exe");
        ASSERT_EQ(win32.openProcessCalls.size(), 1u);
        EXPECT_EQ(win32.openProcessCalls[0].access, 0x400u);
        EXPECT_EQ(win32.openProcessCalls[0].inheritHandle, FALSE);
        EXPECT_EQ(win32.openProcessCalls[0].pid, pid);
        ASSERT_EQ(win32.queryImageNameCalls.size(), 1u);
        EXPECT_EQ(win32.queryImageNameCalls[0].process, process);
        EXPECT_EQ(win32.queryImageNameCalls[0].flags, 0u);
        EXPECT_FALSE(win32.queryImageNameCalls[0].bufferNull);
        EXPECT_FALSE(win32.queryImageNameCalls[0].sizeNull);
        EXPECT_EQ(win32.queryImageNameCalls[0].sizeOnEntry, 260u);
        ASSERT_EQ(win32.closeHandleCalls.size(), 1u);
        EXPECT_EQ(win32.closeHandleCalls[0].handle, process);
        const std::vector<Function> order = {Function::OpenProcess, Function::QueryFullProcessImageNameA,
                                             Function::CloseHandle};
        EXPECT_EQ(win32.sequence, order);
    }
}

TEST_F(ProcessIdentityTest, NoneWhenTheProcessCannotBeOpened) {
    const DWORD codes[] = {ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED};
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        fake::Reset();
        win32.Fail(Function::OpenProcess, 0, code);

        EXPECT_FALSE(queries.QueryProcessImagePath(1234).has_value());
        EXPECT_TRUE(win32.queryImageNameCalls.empty());
        EXPECT_TRUE(win32.closeHandleCalls.empty()) << "a null handle is not closed";
    }
}

TEST_F(ProcessIdentityTest, NoneWhenTheImageNameCannotBeReadAndTheHandleIsClosed) {
    const DWORD codes[] = {ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER, 31};
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        fake::Reset();
        const HANDLE process = fake::FakeHandle(0x2A4);
        win32.openProcess.fallback.handle = process;
        win32.Fail(Function::QueryFullProcessImageNameA, 0, code);

        EXPECT_FALSE(queries.QueryProcessImagePath(1234).has_value());
        ASSERT_EQ(win32.closeHandleCalls.size(), 1u);
        EXPECT_EQ(win32.closeHandleCalls[0].handle, process);
    }
}

TEST_F(ProcessIdentityTest, PathLengthsAroundTheBufferSize) {
    struct LengthCase {
        size_t length;
        bool found;
    };
    const LengthCase cases[] = {{1, true}, {259, true}, {260, false}, {400, false}};
    for (const LengthCase& entry : cases) {
        SCOPED_TRACE("path of " + std::to_string(entry.length) + " characters");
        fake::Reset();
        const std::string path = "C:" + std::string(entry.length - 1, 'x');
        win32.queryImageName.fallback.path = path.substr(0, entry.length);

        const std::optional<std::string> result = queries.QueryProcessImagePath(8);

        ASSERT_EQ(result.has_value(), entry.found);
        if (entry.found) {
            EXPECT_EQ(*result, path.substr(0, entry.length));
        }
        EXPECT_EQ(win32.closeHandleCalls.size(), 1u);
    }
}

}  // namespace
}  // namespace lystrel
