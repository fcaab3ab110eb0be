// The endpoint blocks of a report, read back from its text.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lystrel::test {

struct ReportBlock {
    /// The section header line the block appeared under, e.g. "- IPv6 UDP ports -".
    std::string section;
    int port = -1;
    std::string protocol;
    /// The address as printed: dotted for IPv4, "[...]" for IPv6.
    std::string address;
    long pid = -1;
    std::optional<std::string> imagePath;
    std::vector<std::string> serviceLines;
    /// The text after "Port opened at (local time) : ".
    std::string openedAt;
};

struct ParsedReport {
    std::vector<std::string> sections;
    std::vector<ReportBlock> blocks;
    /// Lines the parser could not place; empty for a well-formed report.
    std::vector<std::string> strayLines;
};

/// Splits the report after its banner into sections and blocks.
ParsedReport ParseReport(const std::string& text);

/// The blocks of one section with the given port.
std::vector<ReportBlock> BlocksWithPort(const ParsedReport& report, const std::string& section, int port);

}  // namespace lystrel::test
