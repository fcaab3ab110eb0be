#include "report_run.h"

#include <unistd.h>

#include "capturing_sink.h"
#include "expected_text.h"
#include "report.h"
#include "windows_queries.h"

namespace lystrel::test {
namespace {

const std::string kHeaders[4] = {testing::kHeaderIPv4TCP, testing::kHeaderIPv4UDP, testing::kHeaderIPv6TCP,
                                 testing::kHeaderIPv6UDP};

}  // namespace

const char* const kSectionNames[4] = {"- IPv4 TCP ports -", "- IPv4 UDP ports -", "- IPv6 TCP ports -",
                                      "- IPv6 UDP ports -"};

ReportRun RunReportWithFaults(const std::vector<FaultPlan>& faults) {
    layer::DisarmFaults();
    for (const FaultPlan& plan : faults) layer::ArmFault(plan.fault, plan.error, plan.occurrence);
    WindowsSystemQueries queries;
    testing::CapturingSink sink;
    ReportRun run;
    run.status = RunReport(queries, sink);
    layer::DisarmFaults();
    run.text = std::move(sink.text);
    run.flushedAt = std::move(sink.flushedAt);
    run.parsed = ParseReport(run.text);
    return run;
}

::testing::AssertionResult IsCompleteReport(const ReportRun& run) {
    if (run.status != 0) return ::testing::AssertionFailure() << "exit status " << run.status << "\n" << run.text;
    if (run.text.compare(0, testing::kBanner.size(), testing::kBanner) != 0)
        return ::testing::AssertionFailure() << "no banner:\n" << run.text;
    const std::vector<std::string> headers(std::begin(kSectionNames), std::end(kSectionNames));
    if (run.parsed.sections != headers) return ::testing::AssertionFailure() << "not four headers:\n" << run.text;
    if (!run.parsed.strayLines.empty())
        return ::testing::AssertionFailure() << "stray line \"" << run.parsed.strayLines.front() << "\"";
    if (run.text.find("Error: ") != std::string::npos)
        return ::testing::AssertionFailure() << "error line in:\n" << run.text;
    if (run.flushedAt.empty() || run.flushedAt.back() != run.text.size())
        return ::testing::AssertionFailure() << "end of the report not flushed";
    return ::testing::AssertionSuccess();
}

int FailedSection(const ReportRun& run) {
    for (int section = 0; section < 4; ++section) {
        const std::string tail = kHeaders[section] + kPortSections[section].sizeProbeMessage;
        if (run.text.size() >= tail.size() && run.text.compare(run.text.size() - tail.size(), tail.size(), tail) == 0)
            return section;
    }
    return -1;
}

::testing::AssertionResult EndsWithSizeProbeLine(const ReportRun& run, size_t section) {
    if (run.status != 1) return ::testing::AssertionFailure() << "exit status " << run.status << "\n" << run.text;
    if (FailedSection(run) != static_cast<int>(section))
        return ::testing::AssertionFailure() << "does not end in the size-probe line of section " << section
                                             << ":\n" << run.text;
    if (run.flushedAt.empty() || run.flushedAt.back() != run.text.size())
        return ::testing::AssertionFailure() << "fatal line not flushed";
    // One error line, and the sections before the failing one complete.
    const size_t first = run.text.find("Error: ");
    if (first != run.text.rfind("Error: ")) return ::testing::AssertionFailure() << "two error lines";
    std::vector<std::string> headers(std::begin(kSectionNames), std::begin(kSectionNames) + section + 1);
    if (run.parsed.sections != headers) return ::testing::AssertionFailure() << "wrong headers:\n" << run.text;
    if (run.text.compare(0, testing::kBanner.size(), testing::kBanner) != 0)
        return ::testing::AssertionFailure() << "no banner";
    return ::testing::AssertionSuccess();
}

std::string WithoutOpeningTimes(const std::string& text) {
    static const std::string kOpened = "  - Port opened at (local time) : ";
    std::string out;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(begin, end - begin);
        out += line.compare(0, kOpened.size(), kOpened) == 0 ? kOpened + "\n" : line;
        begin = end;
    }
    return out;
}

std::string OwnImagePath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

}  // namespace lystrel::test
