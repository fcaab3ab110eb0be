// Splits a captured report into lines and finds its sections and endpoint blocks.
#pragma once

#include <cstddef>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace lystrel_test {

/// The report's lines without their CR LF ends; error names the first line that
/// does not end in CR LF (a bare LF, a stray CR, or no end at all).
struct ReportLines {
    std::vector<std::string> lines;
    std::string error;
};

/// Splits text whose every line must end in CR LF.
ReportLines SplitCrLfLines(const std::string& text);

/// The index of the only line equal to text; none when absent or repeated.
std::optional<std::size_t> FindOnlyLine(const std::vector<std::string>& lines,
                                        const std::string& text);

/// Whether lines [begin, end) hold a block whose port line is portLine, followed by
/// an empty line, an address line matching addressLine, a process id line, and a
/// time line before the block's closing empty line. why says what was seen otherwise.
bool HasEndpointBlock(const std::vector<std::string>& lines, std::size_t begin, std::size_t end,
                      const std::string& portLine, const std::regex& addressLine,
                      std::string* why);

}  // namespace lystrel_test
