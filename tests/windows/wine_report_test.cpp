// Runs the x86_64 lystrel.exe under Wine while this test holds TCP listeners and
// UDP sockets on 127.0.0.1 and ::1, and reads the report as a user would.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <regex>

#include "child_process.h"
#include "loopback_sockets.h"
#include "report_text.h"
#include "tool_lookup.h"

namespace lystrel_test {
namespace {

// Generous: a fresh Wine prefix takes several seconds on its first start.
constexpr std::chrono::seconds kRunLimit(120);

const char* const kHeaders[] = {"- IPv4 TCP ports -", "- IPv4 UDP ports -",
                                "- IPv6 TCP ports -", "- IPv6 UDP ports -"};

// One private Wine prefix serves every run of this test binary and is removed at the end.
class WineReport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wine = FindProgram("wine", {"/usr/lib/wine/wine64"});
        if (!wine) {
            return;
        }
        const char* temp = std::getenv("TMPDIR");
        std::string pattern = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") +
                              "/lystrel-wine-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            prefix = pattern;
        }
    }

    static void TearDownTestSuite() {
        if (prefix.empty()) {
            return;
        }
        // Let this prefix's server write its state and end before the folder goes.
        if (std::optional<std::string> server =
                FindProgram("wineserver", {"/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver"})) {
            RunChild({*server, "-w"}, Environment(), prefix, kRunLimit);
        }
        std::error_code ignored;
        std::filesystem::remove_all(prefix, ignored);
        prefix.clear();
    }

    void SetUp() override {
        if (!wine) {
            GTEST_SKIP() << "wine is not installed (neither on PATH nor /usr/lib/wine/wine64); "
                            "scripts/install-deps.sh installs it";
        }
        ASSERT_FALSE(prefix.empty()) << "cannot create a temporary folder for the Wine prefix";
        ASSERT_TRUE(std::filesystem::exists(LYSTREL_WIN64_EXE))
            << LYSTREL_WIN64_EXE << " is missing: build it with scripts/build-windows.sh";
    }

    static std::vector<std::string> Environment() {
        return {"WINEPREFIX=" + prefix, "WINEDEBUG=-all",
                // No Mono or Gecko installers for a fresh prefix.
                "WINEDLLOVERRIDES=mscoree,mshtml="};
    }

    ChildResult RunLystrel(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {*wine, LYSTREL_WIN64_EXE};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunChild(argv, Environment(), prefix, kRunLimit);
    }

    static std::optional<std::string> wine;
    static std::string prefix;
};

std::optional<std::string> WineReport::wine;
std::string WineReport::prefix;

std::size_t SectionOf(const LoopbackSocket& socket) {
    return (socket.ipv6 ? 2 : 0) + (socket.tcp ? 0 : 1);
}

// The whole report of one run: line ends, banner, sections in order and a
// well-formed block for each of the test's sockets in its own section.
void CheckReport(const ChildResult& run, const LoopbackSockets& sockets) {
    ASSERT_TRUE(run.exited && run.exitStatus == 0)
        << DescribeEnd(run) << "\nstdout:\n" << run.standardOutput << "\nstderr:\n"
        << run.standardError;

    ReportLines report = SplitCrLfLines(run.standardOutput);
    ASSERT_TRUE(report.error.empty()) << report.error;
    const std::vector<std::string>& lines = report.lines;
    ASSERT_GE(lines.size(), 3u) << run.standardOutput;
    EXPECT_EQ(lines[0].rfind("Lystrel 2.0 - ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind(std::string(12, ' ') + "- ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "");

    std::size_t sectionStart[5];
    for (std::size_t section = 0; section < 4; ++section) {
        std::optional<std::size_t> header = FindOnlyLine(lines, kHeaders[section]);
        ASSERT_TRUE(header.has_value()) << "\"" << kHeaders[section]
                                        << "\" missing or repeated:\n" << run.standardOutput;
        sectionStart[section] = *header;
        if (section > 0) {
            ASSERT_GT(sectionStart[section], sectionStart[section - 1])
                << "\"" << kHeaders[section] << "\" comes before \"" << kHeaders[section - 1] << "\"";
        }
    }
    sectionStart[4] = lines.size();

    // Wine gives ::1 a nonzero scope, so its text may carry "%scope".
    const std::regex ipv4Loopback(R"(  - Listening at IP address     : 127\.0\.0\.1)");
    const std::regex ipv6Loopback(R"(  - Listening at IPv6 address   : \[::1(%\d+)?\])");
    for (const LoopbackSocket& socket : sockets.Sockets()) {
        std::size_t section = SectionOf(socket);
        std::string portLine = std::to_string(socket.port) + (socket.tcp ? " TCP" : " UDP");
        std::string why;
        EXPECT_TRUE(HasEndpointBlock(lines, sectionStart[section] + 1, sectionStart[section + 1],
                                     portLine, socket.ipv6 ? ipv6Loopback : ipv4Loopback, &why))
            << "under \"" << kHeaders[section] << "\": " << why << "\n" << run.standardOutput;
    }
}

TEST_F(WineReport, ListsTheLoopbackSocketsOfThisTest) {
    LoopbackSockets sockets;
    for (bool ipv6 : {false, true}) {
        for (bool tcp : {true, false}) {
            int error = 0;
            std::string failure = sockets.Open(ipv6, tcp, &error);
            if (ipv6 && (error == EADDRNOTAVAIL || error == EAFNOSUPPORT)) {
                GTEST_SKIP() << "no IPv6 loopback here: " << failure;
            }
            ASSERT_EQ(failure, "");
        }
    }

    // Arguments change nothing: the same report for the same sockets. The first
    // run also sets up the fresh Wine prefix.
    struct Invocation {
        const char* name;
        std::vector<std::string> arguments;
    };
    const Invocation invocations[] = {
        {"first_run_ms", {}},
        {"run_with_arguments_ms", {"-x", "--help", "foo"}},
    };
    for (const Invocation& invocation : invocations) {
        SCOPED_TRACE(invocation.name);
        ChildResult run = RunLystrel(invocation.arguments);
        CheckReport(run, sockets);
        RecordProperty(invocation.name, static_cast<int>(run.elapsed.count()));
    }
}

}  // namespace
}  // namespace lystrel_test
