// Whole runs that end normally: the complete text of a machine with endpoints
// in all four sections, and the exact questions the report asks on the way.
#include <gtest/gtest.h>

#include "capturing_sink.h"
#include "expected_text.h"
#include "scripted_queries.h"

namespace lystrel::testing {
namespace {

const char kAlphaImage[] = "C:\\Program Files\\Caf\xe9\\alpha.exe";

// A machine with endpoints in every section. Process 1200 hosts two services
// and owns endpoints in two sections; process 0 owns one endpoint and hosts
// one service; one service runs in a process that owns no endpoint.
void ScriptBusyMachine(ScriptedQueries& queries) {
    queries.snapshot = ServiceSnapshot{{
        {"alphasvc", "Alpha Service", 1200},
        {"zerosvc", "Zero Host", 0},
        {"orphansvc", "Orphan Service", 9999},
        {"betasvc", "Beta Service", 1200},
    }};
    queries.imagePaths[1200] = kAlphaImage;
    queries.imagePaths[3000000000u] = "C:\\Tools\\high.exe";

    queries.AddEndpoint(1, {445, 4, 101, "0.0.0.0", {2019, 2, 3, 9, 7}});
    queries.AddEndpoint(1, {8080, 1200, 102, "127.0.0.1", {2024, 7, 1, 0, 0}});
    queries.AddEndpoint(2, {0, 0, 201, "0.0.0.0", {987, 12, 31, 23, 59}});
    queries.AddEndpoint(2, {65535, 3000000000u, 202, "127.0.0.1", {2020, 11, 15, 8, 5}});
    queries.AddEndpoint(3, {135, 1200, 301, "::", {2023, 10, 9, 14, 30}});
    queries.AddEndpoint(4, {5353, 4, 401, "fe80::1%3", {2022, 1, 20, 17, 45}});
}

const std::string kBusyMachineReport = kBanner + kHeaderIPv4TCP +
    "445 TCP\n"
    "\n"
    "  - Listening at IP address     : 0.0.0.0\n"
    "  - Responsible process PID     : 4\n"
    "  - Port opened at (local time) : 2019-02-03 9:7\n"
    "\n"
    "8080 TCP\n"
    "\n"
    "  - Listening at IP address     : 127.0.0.1\n"
    "  - Responsible process PID     : 1200\n"
    "  - Process image pathname      : C:\\Program Files\\Caf\xe9\\alpha.exe\n"
    "  - Service display name        : Alpha Service\n"
    "  - Service name                : alphasvc\n"
    "  - Service display name        : Beta Service\n"
    "  - Service name                : betasvc\n"
    "  - Port opened at (local time) : 2024-07-01 0:0\n"
    "\n" +
    kHeaderIPv4UDP +
    "0 UDP\n"
    "\n"
    "  - Listening at IP address     : 0.0.0.0\n"
    "  - Responsible process PID     : 0\n"
    "  - Service display name        : Zero Host\n"
    "  - Service name                : zerosvc\n"
    "  - Port opened at (local time) : 0987-12-31 23:59\n"
    "\n"
    "65535 UDP\n"
    "\n"
    "  - Listening at IP address     : 127.0.0.1\n"
    "  - Responsible process PID     : -1294967296\n"
    "  - Process image pathname      : C:\\Tools\\high.exe\n"
    "  - Port opened at (local time) : 2020-11-15 8:5\n"
    "\n" +
    kHeaderIPv6TCP +
    "135 TCP\n"
    "\n"
    "  - Listening at IPv6 address   : [::]\n"
    "  - Responsible process PID     : 1200\n"
    "  - Process image pathname      : C:\\Program Files\\Caf\xe9\\alpha.exe\n"
    "  - Service display name        : Alpha Service\n"
    "  - Service name                : alphasvc\n"
    "  - Service display name        : Beta Service\n"
    "  - Service name                : betasvc\n"
    "  - Port opened at (local time) : 2023-10-09 14:30\n"
    "\n" +
    kHeaderIPv6UDP +
    "5353 UDP\n"
    "\n"
    "  - Listening at IPv6 address   : [fe80::1%3]\n"
    "  - Responsible process PID     : 4\n"
    "  - Port opened at (local time) : 2022-01-20 17:45\n"
    "\n";

TEST(FullReport, PrintsEveryEndpointOfAllFourSections) {
    ScriptedQueries queries;
    ScriptBusyMachine(queries);
    CapturingSink sink;

    EXPECT_EQ(RunReport(queries, sink), 0);
    EXPECT_EQ(sink.text, kBusyMachineReport);
    ASSERT_FALSE(sink.flushedAt.empty());
    EXPECT_EQ(sink.flushedAt.back(), sink.text.size());
}

TEST(FullReport, AsksEachQuestionInRunOrder) {
    ScriptedQueries queries;
    ScriptBusyMachine(queries);
    CapturingSink sink;

    RunReport(queries, sink);

    const std::vector<std::string> expected = {
        "EnableDebugPrivilege",
        "StartSocketLayer",
        "TakeServiceSnapshot",
        "ReadEndpointTable 1",
        "FormatEndpointAddress 445", "QueryProcessImagePath 4", "ToLocalCalendarTime 101",
        "FormatEndpointAddress 8080", "QueryProcessImagePath 1200", "ToLocalCalendarTime 102",
        "ReadEndpointTable 2",
        "FormatEndpointAddress 0", "QueryProcessImagePath 0", "ToLocalCalendarTime 201",
        "FormatEndpointAddress 65535", "QueryProcessImagePath 3000000000",
        "ToLocalCalendarTime 202",
        "ReadEndpointTable 3",
        "FormatEndpointAddress 135", "QueryProcessImagePath 1200", "ToLocalCalendarTime 301",
        "ReadEndpointTable 4",
        "FormatEndpointAddress 5353", "QueryProcessImagePath 4", "ToLocalCalendarTime 401",
    };
    EXPECT_EQ(queries.calls, expected);
}

TEST(FullReport, ReadsEachSectionWithItsPlatformParameters) {
    ScriptedQueries queries;
    CapturingSink sink;

    RunReport(queries, sink);

    struct Expected {
        AddressFamily family;
        TransportProtocol protocol;
        uint32_t platformAddressFamily;
        uint32_t tableClass;
    };
    const Expected expected[] = {
        {AddressFamily::IPv4, TransportProtocol::TCP, 2, 6},
        {AddressFamily::IPv4, TransportProtocol::UDP, 2, 2},
        {AddressFamily::IPv6, TransportProtocol::TCP, 23, 6},
        {AddressFamily::IPv6, TransportProtocol::UDP, 23, 2},
    };
    ASSERT_EQ(queries.sectionsRead.size(), 4u);
    for (size_t index = 0; index < 4; ++index) {
        SCOPED_TRACE("section " + std::to_string(index + 1));
        const PortSection& read = queries.sectionsRead[index];
        EXPECT_EQ(read.family, expected[index].family);
        EXPECT_EQ(read.protocol, expected[index].protocol);
        EXPECT_EQ(read.platformAddressFamily, expected[index].platformAddressFamily);
        EXPECT_EQ(read.tableClass, expected[index].tableClass);
    }
}

TEST(FullReport, EmptySectionsPrintTheirHeaderAlone) {
    ScriptedQueries queries;
    queries.AddEndpoint(4, {53, 800, 1, "::1", {2021, 3, 4, 5, 6}});
    CapturingSink sink;

    EXPECT_EQ(RunReport(queries, sink), 0);
    EXPECT_EQ(sink.text, kBanner + kHeaderIPv4TCP + kHeaderIPv4UDP + kHeaderIPv6TCP +
                             kHeaderIPv6UDP +
                             "53 UDP\n"
                             "\n"
                             "  - Listening at IPv6 address   : [::1]\n"
                             "  - Responsible process PID     : 800\n"
                             "  - Port opened at (local time) : 2021-03-04 5:6\n"
                             "\n");
}

// Without a service list, or with an empty one, no block has service lines
// and the run still succeeds.
TEST(FullReport, MissingOrEmptySnapshotPrintsNoServiceLines) {
    struct Case {
        const char* name;
        std::optional<ServiceSnapshot> snapshot;
    };
    const Case cases[] = {
        {"no snapshot", std::nullopt},
        {"empty snapshot", ServiceSnapshot{}},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        ScriptedQueries queries;
        queries.snapshot = testCase.snapshot;
        queries.imagePaths[0] = "C:\\idle.exe";
        queries.AddEndpoint(1, {139, 0, 11, "10.0.0.1", {2018, 12, 24, 18, 0}});
        queries.AddEndpoint(3, {139, 0, 12, "::", {2018, 12, 24, 18, 1}});
        CapturingSink sink;

        EXPECT_EQ(RunReport(queries, sink), 0);
        EXPECT_EQ(sink.text, kBanner + kHeaderIPv4TCP +
                                 "139 TCP\n"
                                 "\n"
                                 "  - Listening at IP address     : 10.0.0.1\n"
                                 "  - Responsible process PID     : 0\n"
                                 "  - Process image pathname      : C:\\idle.exe\n"
                                 "  - Port opened at (local time) : 2018-12-24 18:0\n"
                                 "\n" +
                                 kHeaderIPv4UDP + kHeaderIPv6TCP +
                                 "139 TCP\n"
                                 "\n"
                                 "  - Listening at IPv6 address   : [::]\n"
                                 "  - Responsible process PID     : 0\n"
                                 "  - Process image pathname      : C:\\idle.exe\n"
                                 "  - Port opened at (local time) : 2018-12-24 18:1\n"
                                 "\n" +
                                 kHeaderIPv6UDP);
    }
}

// Nothing is remembered between endpoints: two endpoints of one process ask
// for its image path and their times separately.
TEST(FullReport, AsksAfreshForEveryEndpointOfOneProcess) {
    ScriptedQueries queries;
    queries.imagePaths[7] = "C:\\svc\\host.exe";
    queries.AddEndpoint(2, {137, 7, 21, "192.168.1.5", {2017, 5, 6, 7, 8}});
    queries.AddEndpoint(2, {138, 7, 22, "192.168.1.5", {2017, 5, 6, 7, 9}});
    CapturingSink sink;

    EXPECT_EQ(RunReport(queries, sink), 0);
    const std::vector<std::string> expected = {
        "EnableDebugPrivilege", "StartSocketLayer", "TakeServiceSnapshot",
        "ReadEndpointTable 1",
        "ReadEndpointTable 2",
        "FormatEndpointAddress 137", "QueryProcessImagePath 7", "ToLocalCalendarTime 21",
        "FormatEndpointAddress 138", "QueryProcessImagePath 7", "ToLocalCalendarTime 22",
        "ReadEndpointTable 3",
        "ReadEndpointTable 4",
    };
    EXPECT_EQ(queries.calls, expected);
    EXPECT_EQ(sink.text, kBanner + kHeaderIPv4TCP + kHeaderIPv4UDP +
                             "137 UDP\n"
                             "\n"
                             "  - Listening at IP address     : 192.168.1.5\n"
                             "  - Responsible process PID     : 7\n"
                             "  - Process image pathname      : C:\\svc\\host.exe\n"
                             "  - Port opened at (local time) : 2017-05-06 7:8\n"
                             "\n"
                             "138 UDP\n"
                             "\n"
                             "  - Listening at IP address     : 192.168.1.5\n"
                             "  - Responsible process PID     : 7\n"
                             "  - Process image pathname      : C:\\svc\\host.exe\n"
                             "  - Port opened at (local time) : 2017-05-06 7:9\n"
                             "\n" +
                             kHeaderIPv6TCP + kHeaderIPv6UDP);
}

}  // namespace
}  // namespace lystrel::testing
