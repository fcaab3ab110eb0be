// The /proc scan that finds which process holds which socket.
#include <gtest/gtest.h>

#include <unistd.h>

#include "fixture_tree.h"
#include "layer.h"
#include "loopback_sockets.h"
#include "socket_owners.h"

namespace {

using namespace lystrel::layer;
using lystrel::test::FixtureTree;
using lystrel::test::RootGuard;

TEST(ParseSocketLink, OnlySocketTargets) {
    struct Case {
        const char* target;
        std::optional<uint64_t> inode;
    } cases[] = {
        {"socket:[12345]", 12345},
        {"socket:[0]", 0},
        {"socket:[18446744073709551615]", 18446744073709551615ull},
        {"socket:[4294967296]", 4294967296ull},
        {"socket:[18446744073709551616]", std::nullopt},
        {"socket:[]", std::nullopt},
        {"socket:[12", std::nullopt},
        {"socket:[1a]", std::nullopt},
        {"socket:12]", std::nullopt},
        {"pipe:[12345]", std::nullopt},
        {"/dev/null", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(c.inode, ParseSocketLink(c.target));
    }
}

TEST(SocketOwnerIndex, LowestPidWinsAndOddEntriesAreSkipped) {
    FixtureTree tree;
    tree.Link("/proc/100/fd/3", "socket:[5000]");
    tree.Link("/proc/100/fd/4", "/dev/null");
    tree.Link("/proc/20/fd/7", "socket:[5000]");
    tree.Link("/proc/20/fd/8", "socket:[99999999999]");
    tree.Link("/proc/3000/fd/0", "socket:[5000]");
    tree.Link("/proc/40/fd/1", "socket:[12");
    tree.Write("/proc/40/fd/2", "a regular file, not a link");
    tree.MakeFolder("/proc/50");  // a process that vanished: no fd folder
    tree.Write("/proc/60", "not a folder");
    tree.Link("/proc/abc/fd/1", "socket:[6000]");
    tree.Link("/proc/0/fd/1", "socket:[7000]");
    tree.Link("/proc/self", "100");
    RootGuard root(tree.Path());

    SocketOwnerIndex index;
    EXPECT_FALSE(index.Scanned());
    index.Scan();
    EXPECT_TRUE(index.Scanned());
    EXPECT_EQ(20u, index.OwnerOf(5000));
    EXPECT_EQ(20u, index.OwnerOf(99999999999ull));
    EXPECT_FALSE(index.OwnerOf(12).has_value());
    EXPECT_FALSE(index.OwnerOf(6000).has_value());
    EXPECT_FALSE(index.OwnerOf(7000).has_value());
    EXPECT_EQ(2u, index.Size());
}

TEST(SocketOwnerIndex, MissingProcFolderGivesAnEmptyIndex) {
    FixtureTree tree;
    RootGuard root(tree.Path());
    SocketOwnerIndex index;
    index.Scan();
    EXPECT_TRUE(index.Scanned());
    EXPECT_EQ(0u, index.Size());
}

int ScanWithUnreadableProcess(const std::string& rootPath) {
    lystrel::layer::SetRoot(rootPath);
    SocketOwnerIndex index;
    index.Scan();
    // Pid 5 denies its fd folder; pid 9 holds the same socket and is readable.
    if (index.OwnerOf(800) != std::optional<uint32_t>(9)) return 1;
    if (index.OwnerOf(801).has_value()) return 2;
    return 0;
}

TEST(SocketOwnerIndex, UnreadableFdFoldersAreSkipped) {
    FixtureTree tree;
    tree.Link("/proc/5/fd/1", "socket:[800]");
    tree.Link("/proc/5/fd/2", "socket:[801]");
    tree.Link("/proc/9/fd/1", "socket:[800]");
    tree.Mode("/proc/5/fd", 0);
    tree.Mode("", 0755);
    EXPECT_EQ(0, lystrel::test::RunUnprivileged(ScanWithUnreadableProcess, tree.Path()));
}

TEST(SocketOwnerIndex, FindsOurOwnSocketOnTheLiveSystem) {
    lystrel::test::LoopbackSocket listener = lystrel::test::OpenTcpListener(false);
    ASSERT_GE(listener.fd, 0);
    SocketOwnerIndex index;
    index.Scan();
    EXPECT_EQ(static_cast<uint32_t>(getpid()), index.OwnerOf(listener.inode));
    lystrel::test::CloseSocket(listener);
}

}  // namespace
