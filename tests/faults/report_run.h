// The whole report run in-process over the Linux layer, with faults armed in
// the layer for the length of the run, and checks of the text it printed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_injection.h"
#include "report_blocks.h"

namespace lystrel::test {

/// One kind of call made to fail: every occurrence, or only the given one.
struct FaultPlan {
    layer::Fault fault;
    int error;
    unsigned occurrence = layer::kEveryOccurrence;
};

struct ReportRun {
    int status = -1;
    std::string text;
    /// The length of the text at each flush.
    std::vector<size_t> flushedAt;
    ParsedReport parsed;
};

/// Arms the faults, runs RunReport over the Win32 system queries into a
/// capturing sink, and disarms them again. The counts of FaultReached and
/// FaultFailed stay readable until the next run.
ReportRun RunReportWithFaults(const std::vector<FaultPlan>& faults);

/// Exit status 0, the banner, the four headers in order, every line placed,
/// no error line, and everything flushed at the end.
::testing::AssertionResult IsCompleteReport(const ReportRun& run);

/// Exit status 1, and the text is `before` (the banner and the complete
/// sections before the failing one) followed by the failing section's header
/// and its size-probe line, flushed, and nothing after it.
::testing::AssertionResult EndsWithSizeProbeLine(const ReportRun& run, size_t section);

/// The index (0 to 3) of the section whose size-probe line ends the text, or
/// -1 when the text does not end in one.
int FailedSection(const ReportRun& run);

/// The text with the value of every "Port opened at" line left out, for
/// comparing runs whose opening times may differ.
std::string WithoutOpeningTimes(const std::string& text);

/// The section headers as they appear in parsed reports, in report order.
extern const char* const kSectionNames[4];

/// The path the layer reports for this test program's own image.
std::string OwnImagePath();

}  // namespace lystrel::test
