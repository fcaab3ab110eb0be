// Runs that end at a fatal error: the text up to and including the one error
// line, the exit status, the final flush and the questions asked before the
// run stopped.
#include <gtest/gtest.h>

#include "capturing_sink.h"
#include "expected_text.h"
#include "scripted_queries.h"

namespace lystrel::testing {
namespace {

// One healthy endpoint per section, with the exact block it prints.
struct SectionContent {
    const std::string* header;
    ScriptedEndpoint endpoint;
    const char* block;
};

const SectionContent kSections[4] = {
    {&kHeaderIPv4TCP, {22, 10, 1001, "127.0.0.1", {2016, 1, 2, 3, 4}},
     "22 TCP\n"
     "\n"
     "  - Listening at IP address     : 127.0.0.1\n"
     "  - Responsible process PID     : 10\n"
     "  - Port opened at (local time) : 2016-01-02 3:4\n"
     "\n"},
    {&kHeaderIPv4UDP, {68, 20, 1002, "0.0.0.0", {2016, 2, 3, 4, 5}},
     "68 UDP\n"
     "\n"
     "  - Listening at IP address     : 0.0.0.0\n"
     "  - Responsible process PID     : 20\n"
     "  - Port opened at (local time) : 2016-02-03 4:5\n"
     "\n"},
    {&kHeaderIPv6TCP, {80, 30, 1003, "::", {2016, 3, 4, 5, 6}},
     "80 TCP\n"
     "\n"
     "  - Listening at IPv6 address   : [::]\n"
     "  - Responsible process PID     : 30\n"
     "  - Port opened at (local time) : 2016-03-04 5:6\n"
     "\n"},
    {&kHeaderIPv6UDP, {546, 40, 1004, "fe80::2%5", {2016, 4, 5, 6, 7}},
     "546 UDP\n"
     "\n"
     "  - Listening at IPv6 address   : [fe80::2%5]\n"
     "  - Responsible process PID     : 40\n"
     "  - Port opened at (local time) : 2016-04-05 6:7\n"
     "\n"},
};

enum class Failure { SocketLayer, SizeProbe, Fetch, FirstAddress, LaterAddress };

struct FatalCase {
    const char* name;
    Failure failure;
    /// The section (1 to 4) that fails; unused for the socket layer.
    int section;
    int32_t code;
    const char* errorLine;
};

const FatalCase kFatalCases[] = {
    {"socket layer does not start", Failure::SocketLayer, 0, 10091,
     "Error: WSAStartup failed (10091)\n"},
    {"size probe of IPv4 TCP", Failure::SizeProbe, 1, 0,
     "Error: Unable to determine buffer size IP v4 TCP\n"},
    {"size probe of IPv6 UDP", Failure::SizeProbe, 4, 0,
     "Error: Unable to determine buffer size IP v6 UDP\n"},
    {"fetch of IPv4 UDP with 122", Failure::Fetch, 2, 122,
     "Error: Unable to get ports information IP v4 UDP (122)\n"},
    {"fetch of IPv6 TCP with a negative code", Failure::Fetch, 3, -5,
     "Error: Unable to get ports information IP v6 TCP (-5)\n"},
    {"first address of IPv4 TCP", Failure::FirstAddress, 1, 10014,
     "Error: Unable to convert IP address IP v4 TCP (10014)\n"},
    {"second address of IPv4 UDP", Failure::LaterAddress, 2, 10022,
     "Error: Unable to convert IP address IP v4 UDP (10022)\n"},
    {"second address of IPv6 TCP", Failure::LaterAddress, 3, 10047,
     "Error: Unable to convert IP address IP v6 TCP (10047)\n"},
    {"second address of IPv6 UDP", Failure::LaterAddress, 4, 10022,
     "Error: Unable to convert IP address IP v6 UDP (10022)\n"},
};

// Every section lists its healthy endpoint; the failing section also lists an
// endpoint whose address cannot be converted (before or after the healthy
// one) followed by one that must never be asked about.
void ScriptFailure(ScriptedQueries& queries, const FatalCase& testCase) {
    queries.snapshot = ServiceSnapshot{{{"tensvc", "Ten", 10}, {"fortysvc", "Forty", 40}}};
    if (testCase.failure == Failure::SocketLayer) queries.socketStatus = testCase.code;
    for (int section = 1; section <= 4; ++section) {
        bool failing = section == testCase.section;
        if (failing && testCase.failure == Failure::FirstAddress)
            queries.AddUnconvertibleEndpoint(section, 9, 99, 9999, testCase.code);
        queries.AddEndpoint(section, kSections[section - 1].endpoint);
        if (failing && testCase.failure == Failure::LaterAddress)
            queries.AddUnconvertibleEndpoint(section, 9, 99, 9999, testCase.code);
        if (failing) queries.AddEndpoint(section, {11, 111, 11111, "10.1.1.1", {2000, 1, 1, 1, 1}});
    }
    if (testCase.failure == Failure::SizeProbe) queries.FailSizeProbe(testCase.section);
    if (testCase.failure == Failure::Fetch) queries.FailFetch(testCase.section, testCase.code);
}

// The blocks of the sections with pids 10 and 40 carry the services those
// processes host.
std::string WithServices(int section, std::string block) {
    const char* services[4] = {
        "  - Service display name        : Ten\n"
        "  - Service name                : tensvc\n",
        "", "",
        "  - Service display name        : Forty\n"
        "  - Service name                : fortysvc\n"};
    size_t timeLine = block.find("  - Port opened");
    return block.insert(timeLine, services[section - 1]);
}

std::string ExpectedText(const FatalCase& testCase) {
    std::string text = kBanner;
    if (testCase.failure == Failure::SocketLayer) return text + testCase.errorLine;
    for (int section = 1; section < testCase.section; ++section)
        text += *kSections[section - 1].header + WithServices(section, kSections[section - 1].block);
    text += *kSections[testCase.section - 1].header;
    if (testCase.failure == Failure::LaterAddress)
        text += WithServices(testCase.section, kSections[testCase.section - 1].block);
    return text + testCase.errorLine;
}

void AddEndpointCalls(std::vector<std::string>& calls, const ScriptedEndpoint& endpoint) {
    calls.push_back("FormatEndpointAddress " + std::to_string(endpoint.port));
    calls.push_back("QueryProcessImagePath " + std::to_string(endpoint.pid));
    calls.push_back("ToLocalCalendarTime " + std::to_string(endpoint.creationTime));
}

std::vector<std::string> ExpectedCalls(const FatalCase& testCase) {
    std::vector<std::string> calls = {"EnableDebugPrivilege", "StartSocketLayer"};
    if (testCase.failure == Failure::SocketLayer) return calls;
    calls.push_back("TakeServiceSnapshot");
    for (int section = 1; section < testCase.section; ++section) {
        calls.push_back("ReadEndpointTable " + std::to_string(section));
        AddEndpointCalls(calls, kSections[section - 1].endpoint);
    }
    calls.push_back("ReadEndpointTable " + std::to_string(testCase.section));
    if (testCase.failure == Failure::LaterAddress)
        AddEndpointCalls(calls, kSections[testCase.section - 1].endpoint);
    if (testCase.failure == Failure::FirstAddress || testCase.failure == Failure::LaterAddress)
        calls.push_back("FormatEndpointAddress 9");
    return calls;
}

TEST(FatalErrors, StopTheRunAfterOneErrorLine) {
    for (const FatalCase& testCase : kFatalCases) {
        SCOPED_TRACE(testCase.name);
        ScriptedQueries queries;
        ScriptFailure(queries, testCase);
        CapturingSink sink;

        EXPECT_EQ(RunReport(queries, sink), 1);
        EXPECT_EQ(sink.text, ExpectedText(testCase));
        // The error line was out of the process before the run returned.
        ASSERT_FALSE(sink.flushedAt.empty());
        EXPECT_EQ(sink.flushedAt.back(), sink.text.size());
        EXPECT_EQ(queries.calls, ExpectedCalls(testCase));
    }
}

// The expected texts above are built from pieces; this one is written out in
// full so that the construction itself is checked once.
TEST(FatalErrors, FetchFailureAfterCompleteFirstSectionReadsExactly) {
    ScriptedQueries queries;
    ScriptFailure(queries, kFatalCases[3]);
    CapturingSink sink;

    EXPECT_EQ(RunReport(queries, sink), 1);
    EXPECT_EQ(sink.text,
              "Lystrel 2.0 - who listens on which port of this machine\n"
              "            - https://lystrel.dev/\n"
              "\n"
              "- IPv4 TCP ports -\n"
              "\n"
              "22 TCP\n"
              "\n"
              "  - Listening at IP address     : 127.0.0.1\n"
              "  - Responsible process PID     : 10\n"
              "  - Service display name        : Ten\n"
              "  - Service name                : tensvc\n"
              "  - Port opened at (local time) : 2016-01-02 3:4\n"
              "\n"
              "- IPv4 UDP ports -\n"
              "\n"
              "Error: Unable to get ports information IP v4 UDP (122)\n");
}

// Extreme status codes print as signed 32-bit decimals.
TEST(FatalErrors, CodesPrintAsSignedDecimals) {
    struct Case {
        int32_t code;
        const char* errorLine;
    };
    const Case cases[] = {
        {INT32_MIN, "Error: WSAStartup failed (-2147483648)\n"},
        {INT32_MAX, "Error: WSAStartup failed (2147483647)\n"},
        {-1, "Error: WSAStartup failed (-1)\n"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.code);
        ScriptedQueries queries;
        queries.socketStatus = testCase.code;
        CapturingSink sink;

        EXPECT_EQ(RunReport(queries, sink), 1);
        EXPECT_EQ(sink.text, kBanner + testCase.errorLine);
    }
}

}  // namespace
}  // namespace lystrel::testing
