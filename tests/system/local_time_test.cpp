// ToLocalCalendarTime over the scripted time functions, which convert like
// Windows with a chosen current offset, and the time line it leads to.
#include <string>

#include "system_fixture.h"

namespace lystrel {
namespace {

using LocalTimeTest = SystemTest;
using fake::Function;

class CapturingSink : public ReportSink {
public:
    void Write(const char* data, size_t size) override { text.append(data, size); }
    void Flush() override {}
    std::string text;
};

struct Moment {
    int year, month, day, hour, minute;
};

std::string TimeLine(const LocalCalendarTime& time) {
    ListeningEndpoint endpoint;
    endpoint.localPort = 445;
    endpoint.owningPid = 4;
    CapturingSink sink;
    WriteEndpointBlock(sink, endpoint, "0.0.0.0", nullptr, nullptr, time);
    const std::string label = "  - Port opened at (local time) : ";
    const size_t at = sink.text.find(label);
    if (at == std::string::npos) return "(no time line)";
    const size_t end = sink.text.find('\n', at);
    return sink.text.substr(at + label.size(), end - at - label.size());
}

TEST_F(LocalTimeTest, FakeCalendarAgreesWithKnownFileTimes) {
    EXPECT_EQ(fake::FileTimeOf(1601, 1, 1, 0, 0), 0u);
    EXPECT_EQ(fake::FileTimeOf(1970, 1, 1, 0, 0), 116444736000000000ULL);
    EXPECT_EQ(fake::FileTimeOf(2000, 3, 1, 0, 0), 125963424000000000ULL);
}

TEST_F(LocalTimeTest, ConvertsWithTheCurrentOffset) {
    struct TimeCase {
        const char* name;
        Moment utc;
        int64_t offset;
        Moment local;
        const char* line;
    };
    const TimeCase cases[] = {
        {"12:05 UTC at +2 h", {2019, 2, 3, 12, 5}, 2 * fake::kHour, {2019, 2, 3, 14, 5}, "2019-02-03 14:5"},
        {"no offset", {2019, 2, 3, 9, 7}, 0, {2019, 2, 3, 9, 7}, "2019-02-03 9:7"},
        {"across the new year", {2018, 12, 31, 23, 30}, fake::kHour, {2019, 1, 1, 0, 30}, "2019-01-01 0:30"},
        {"back across a leap day", {2024, 3, 1, 2, 0}, -5 * fake::kHour, {2024, 2, 29, 21, 0}, "2024-02-29 21:0"},
        {"the first file time", {1601, 1, 1, 0, 0}, 0, {1601, 1, 1, 0, 0}, "1601-01-01 0:0"},
        {"half-hour zone", {2023, 7, 15, 23, 59}, 5 * fake::kHour + fake::kHour / 2, {2023, 7, 16, 5, 29},
         "2023-07-16 5:29"},
    };
    for (const TimeCase& entry : cases) {
        SCOPED_TRACE(entry.name);
        fake::Reset();
        win32.localFileTime.fallback.offset = entry.offset;
        const uint64_t utc =
            fake::FileTimeOf(entry.utc.year, entry.utc.month, entry.utc.day, entry.utc.hour, entry.utc.minute, 42);

        const LocalCalendarTime time = queries.ToLocalCalendarTime(utc);

        EXPECT_EQ(time.year, entry.local.year);
        EXPECT_EQ(time.month, entry.local.month);
        EXPECT_EQ(time.day, entry.local.day);
        EXPECT_EQ(time.hour, entry.local.hour);
        EXPECT_EQ(time.minute, entry.local.minute);
        EXPECT_EQ(TimeLine(time), entry.line);
        ASSERT_EQ(win32.localFileTimeCalls.size(), 1u);
        EXPECT_EQ(win32.localFileTimeCalls[0].input, utc);
        ASSERT_EQ(win32.systemTimeCalls.size(), 1u);
        EXPECT_EQ(win32.systemTimeCalls[0].input, utc + static_cast<uint64_t>(entry.offset));
    }
}

TEST_F(LocalTimeTest, FailedConversionGivesTheAllZeroTime) {
    struct FailureCase {
        const char* name;
        uint64_t utc;
        /// The call made to fail, if any; otherwise the fake fails on its own.
        bool injected;
        Function failing;
        size_t systemTimeCalls;
    };
    const uint64_t noon = fake::FileTimeOf(2019, 2, 3, 12, 5);
    const FailureCase cases[] = {
        {"local conversion fails", noon, true, Function::FileTimeToLocalFileTime, 0},
        {"calendar split fails", noon, true, Function::FileTimeToSystemTime, 1},
        {"time beyond what the platform expresses", 0x8000000000000000ULL, false, Function::FileTimeToSystemTime, 1},
        {"largest file time", 0xFFFFFFFFFFFFFFFFULL, false, Function::FileTimeToSystemTime, 1},
    };
    for (const FailureCase& entry : cases) {
        SCOPED_TRACE(entry.name);
        fake::Reset();
        if (entry.injected) win32.Fail(entry.failing, 0, ERROR_INVALID_PARAMETER);

        const LocalCalendarTime time = queries.ToLocalCalendarTime(entry.utc);

        EXPECT_EQ(time.year, 0);
        EXPECT_EQ(time.month, 0);
        EXPECT_EQ(time.day, 0);
        EXPECT_EQ(time.hour, 0);
        EXPECT_EQ(time.minute, 0);
        EXPECT_EQ(TimeLine(time), "0000-00-00 0:0");
        EXPECT_EQ(win32.systemTimeCalls.size(), entry.systemTimeCalls);
    }
}

}  // namespace
}  // namespace lystrel
