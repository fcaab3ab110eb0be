// Start ticks, boot time and their FILETIME.
#include <gtest/gtest.h>

#include <string>

#include "fixture_tree.h"
#include "process_start.h"

namespace {

using namespace lystrel::layer;

// A stat line whose field 22 is `start`, with the given command name.
std::string StatLine(const std::string& comm, const std::string& start) {
    return "1234 (" + comm + ") S 1 1234 1234 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0 " + start +
           " 12345678 100 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
}

TEST(ParseStartTicks, Field22AfterTheLastParenthesis) {
    struct Case {
        const char* name;
        std::string stat;
        std::optional<uint64_t> ticks;
    } cases[] = {
        {"plain", StatLine("sshd", "98765"), 98765},
        {"comm with \") \"", StatLine("a) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 (b", "4242"), 4242},
        {"comm with newline and spaces", StatLine("x\n y  )", "7"), 7},
        {"large", StatLine("big", "18446744073709551615"), 18446744073709551615ull},
        {"overflow", StatLine("big", "18446744073709551616"), std::nullopt},
        {"no parenthesis", "1234 sshd S 1 2", std::nullopt},
        {"truncated before field 22", "1234 (sshd) S 1 1234 1234 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0", std::nullopt},
        {"empty", "", std::nullopt},
        {"not a number", StatLine("sshd", "12a"), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.ticks, ParseStartTicks(c.stat));
    }
}

TEST(ParseBootTime, TheBtimeLine) {
    EXPECT_EQ(1700000000u, ParseBootTime("cpu  1 2 3\nintr 5\nbtime 1700000000\nprocesses 9\n"));
    EXPECT_EQ(5u, ParseBootTime("btime 5"));
    EXPECT_FALSE(ParseBootTime("cpu 1\nprocesses 9\n").has_value());
    EXPECT_FALSE(ParseBootTime("btime\n").has_value());
    EXPECT_FALSE(ParseBootTime("btime x1\n").has_value());
    EXPECT_FALSE(ParseBootTime("mybtime 5\n").has_value());
}

TEST(FileTimeAfterBoot, AddsTicksToTheBootInFileTimeUnits) {
    EXPECT_EQ(kUnixEpochFileTime, FileTimeAfterBoot(0, 0, 100));
    EXPECT_EQ(kUnixEpochFileTime + 10000000ull * 1000 + 2500000, FileTimeAfterBoot(1000, 25, 100));
    EXPECT_EQ(kUnixEpochFileTime + 10000000ull * 1000 + 10000, FileTimeAfterBoot(1000, 1, 1000));
    EXPECT_EQ(UINT64_MAX, FileTimeAfterBoot(UINT64_MAX / 2, 0, 100));  // saturates
}

TEST(ReadStartTicks, ReadsUnderTheRootAndFailsForMissingOrTruncatedFiles) {
    lystrel::test::FixtureTree tree;
    tree.Write("/proc/10/stat", StatLine("init) (x", "321"));
    tree.Write("/proc/11/stat", "11 (cut) S 1 2 3");
    tree.Write("/proc/stat", "cpu 1\nbtime 1600000000\n");
    lystrel::test::RootGuard root(tree.Path());
    EXPECT_EQ(321u, ReadStartTicks(10));
    EXPECT_FALSE(ReadStartTicks(11).has_value());
    EXPECT_FALSE(ReadStartTicks(12).has_value());
    EXPECT_EQ(1600000000u, ReadBootTime());
}

}  // namespace
