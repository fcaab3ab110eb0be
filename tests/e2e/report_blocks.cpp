#include "report_blocks.h"

#include <cstdlib>
#include <sstream>

namespace lystrel::test {
namespace {

const std::string kAddress4 = "  - Listening at IP address     : ";
const std::string kAddress6 = "  - Listening at IPv6 address   : ";
const std::string kPid = "  - Responsible process PID     : ";
const std::string kImage = "  - Process image pathname      : ";
const std::string kServiceDisplay = "  - Service display name        : ";
const std::string kServiceName = "  - Service name                : ";
const std::string kOpened = "  - Port opened at (local time) : ";

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

ParsedReport ParseReport(const std::string& text) {
    ParsedReport report;
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);

    size_t index = 0;
    // The banner runs up to the first section header.
    while (index < lines.size() && !(StartsWith(lines[index], "- ") && lines[index].size() > 4)) ++index;
    std::string section;
    ReportBlock* block = nullptr;
    for (; index < lines.size(); ++index) {
        const std::string& line = lines[index];
        if (line.empty()) continue;
        if (StartsWith(line, "- ") && line.back() == '-') {
            section = line;
            report.sections.push_back(line);
            block = nullptr;
            continue;
        }
        const size_t blank = line.find(' ');
        if (!StartsWith(line, " ") && blank != std::string::npos &&
            (line.substr(blank + 1) == "TCP" || line.substr(blank + 1) == "UDP")) {
            report.blocks.push_back(ReportBlock());
            block = &report.blocks.back();
            block->section = section;
            block->port = std::atoi(line.substr(0, blank).c_str());
            block->protocol = line.substr(blank + 1);
            continue;
        }
        if (block == nullptr) {
            report.strayLines.push_back(line);
        } else if (StartsWith(line, kAddress4)) {
            block->address = line.substr(kAddress4.size());
        } else if (StartsWith(line, kAddress6)) {
            block->address = line.substr(kAddress6.size());
        } else if (StartsWith(line, kPid)) {
            block->pid = std::atol(line.substr(kPid.size()).c_str());
        } else if (StartsWith(line, kImage)) {
            block->imagePath = line.substr(kImage.size());
        } else if (StartsWith(line, kServiceDisplay) || StartsWith(line, kServiceName)) {
            block->serviceLines.push_back(line);
        } else if (StartsWith(line, kOpened)) {
            block->openedAt = line.substr(kOpened.size());
        } else {
            report.strayLines.push_back(line);
        }
    }
    return report;
}

std::vector<ReportBlock> BlocksWithPort(const ParsedReport& report, const std::string& section, int port) {
    std::vector<ReportBlock> found;
    for (const ReportBlock& block : report.blocks)
        if (block.section == section && block.port == port) found.push_back(block);
    return found;
}

}  // namespace lystrel::test
