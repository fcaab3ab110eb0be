// How each field of a block prints: one endpoint per run, whole output
// compared, one table of cases per field.
#include <gtest/gtest.h>

#include "capturing_sink.h"
#include "expected_text.h"
#include "scripted_queries.h"

namespace lystrel::testing {
namespace {

// Runs a report whose only endpoint is an IPv4 TCP one and returns its text.
std::string ReportOfOneEndpoint(const ScriptedEndpoint& endpoint) {
    ScriptedQueries queries;
    queries.AddEndpoint(1, endpoint);
    CapturingSink sink;
    EXPECT_EQ(RunReport(queries, sink), 0);
    return sink.text;
}

std::string ExpectedReport(const std::string& portLine, const std::string& pidLine,
                           const std::string& timeLine) {
    return kBanner + kHeaderIPv4TCP + portLine + "\n" +
           "  - Listening at IP address     : 192.0.2.1\n" + pidLine + timeLine + "\n" +
           kHeaderIPv4UDP + kHeaderIPv6TCP + kHeaderIPv6UDP;
}

TEST(BlockFields, OpeningTimeFilling) {
    struct Case {
        LocalCalendarTime time;
        const char* timeLine;
    };
    const Case cases[] = {
        {{2019, 2, 3, 9, 7}, "  - Port opened at (local time) : 2019-02-03 9:7\n"},
        {{2020, 7, 1, 0, 0}, "  - Port opened at (local time) : 2020-07-01 0:0\n"},
        {{2021, 10, 31, 8, 5}, "  - Port opened at (local time) : 2021-10-31 8:5\n"},
        {{2021, 12, 9, 23, 59}, "  - Port opened at (local time) : 2021-12-09 23:59\n"},
        {{987, 1, 1, 10, 10}, "  - Port opened at (local time) : 0987-01-01 10:10\n"},
        {{5, 6, 7, 1, 2}, "  - Port opened at (local time) : 0005-06-07 1:2\n"},
        {{30827, 12, 31, 23, 59}, "  - Port opened at (local time) : 30827-12-31 23:59\n"},
        // The value given when the time could not be converted.
        {{0, 0, 0, 0, 0}, "  - Port opened at (local time) : 0000-00-00 0:0\n"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.timeLine);
        EXPECT_EQ(ReportOfOneEndpoint({443, 4, 1, "192.0.2.1", testCase.time}),
                  ExpectedReport("443 TCP\n", "  - Responsible process PID     : 4\n",
                                 testCase.timeLine));
    }
}

TEST(BlockFields, PortsPrintAsPlainDecimals) {
    struct Case {
        uint16_t port;
        const char* portLine;
    };
    const Case cases[] = {
        {0, "0 TCP\n"},
        {1, "1 TCP\n"},
        {8080, "8080 TCP\n"},
        {32768, "32768 TCP\n"},
        {65535, "65535 TCP\n"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.portLine);
        EXPECT_EQ(ReportOfOneEndpoint({testCase.port, 4, 1, "192.0.2.1", {2019, 2, 3, 9, 7}}),
                  ExpectedReport(testCase.portLine, "  - Responsible process PID     : 4\n",
                                 "  - Port opened at (local time) : 2019-02-03 9:7\n"));
    }
}

TEST(BlockFields, ProcessIdsPrintAsSignedDecimals) {
    struct Case {
        uint32_t pid;
        const char* pidLine;
    };
    const Case cases[] = {
        {0, "  - Responsible process PID     : 0\n"},
        {4, "  - Responsible process PID     : 4\n"},
        {2147483647u, "  - Responsible process PID     : 2147483647\n"},
        {2147483648u, "  - Responsible process PID     : -2147483648\n"},
        {3000000000u, "  - Responsible process PID     : -1294967296\n"},
        {4294967295u, "  - Responsible process PID     : -1\n"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.pidLine);
        EXPECT_EQ(ReportOfOneEndpoint({445, testCase.pid, 1, "192.0.2.1", {2019, 2, 3, 9, 7}}),
                  ExpectedReport("445 TCP\n", testCase.pidLine,
                                 "  - Port opened at (local time) : 2019-02-03 9:7\n"));
    }
}

// The example block of the report format, printed byte for byte.
TEST(BlockFields, ExampleBlock) {
    EXPECT_EQ(ReportOfOneEndpoint({445, 4, 1, "0.0.0.0", {2019, 2, 3, 9, 7}}),
              kBanner + kHeaderIPv4TCP +
                  "445 TCP\n"
                  "\n"
                  "  - Listening at IP address     : 0.0.0.0\n"
                  "  - Responsible process PID     : 4\n"
                  "  - Port opened at (local time) : 2019-02-03 9:7\n"
                  "\n" +
                  kHeaderIPv4UDP + kHeaderIPv6TCP + kHeaderIPv6UDP);
}

}  // namespace
}  // namespace lystrel::testing
