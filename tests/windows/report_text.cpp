// Reading the report's text the way a user reads it: line by line, block by block.
#include "report_text.h"

namespace lystrel_test {

ReportLines SplitCrLfLines(const std::string& text) {
    ReportLines report;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t newline = text.find('\n', start);
        std::size_t carriage = text.find('\r', start);
        std::string line = text.substr(start, newline == std::string::npos ? std::string::npos
                                                                             : newline - start);
        bool endsInCrLf = newline != std::string::npos && newline > start &&
                          carriage == newline - 1;
        if (!endsInCrLf) {
            report.error = "line " + std::to_string(report.lines.size() + 1) +
                           " does not end in CR LF: \"" + line + "\"";
            return report;
        }
        line.pop_back();
        report.lines.push_back(line);
        start = newline + 1;
    }
    return report;
}

std::optional<std::size_t> FindOnlyLine(const std::vector<std::string>& lines,
                                        const std::string& text) {
    std::optional<std::size_t> found;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        if (lines[index] == text) {
            if (found) {
                return std::nullopt;
            }
            found = index;
        }
    }
    return found;
}

bool HasEndpointBlock(const std::vector<std::string>& lines, std::size_t begin, std::size_t end,
                      const std::string& portLine, const std::regex& addressLine,
                      std::string* why) {
    static const std::regex processLine(R"(  - Responsible process PID     : -?\d+)");
    static const std::regex timeLine(
        R"(  - Port opened at \(local time\) : \d{4,}-\d{2}-\d{2} \d{1,2}:\d{1,2})");
    *why = "no line \"" + portLine + "\"";
    for (std::size_t index = begin; index < end && index < lines.size(); ++index) {
        if (lines[index] != portLine) {
            continue;
        }
        if (index + 2 >= end || !lines[index + 1].empty()) {
            *why = "\"" + portLine + "\" is not followed by an empty line and an address";
            continue;
        }
        if (!std::regex_match(lines[index + 2], addressLine)) {
            *why = "\"" + portLine + "\" has the address line \"" + lines[index + 2] + "\"";
            continue;
        }
        bool hasProcess = false;
        bool hasTime = false;
        std::size_t line = index + 3;
        for (; line < end && !lines[line].empty(); ++line) {
            hasProcess = hasProcess || std::regex_match(lines[line], processLine);
            hasTime = hasTime || std::regex_match(lines[line], timeLine);
        }
        if (line >= end || !hasProcess || !hasTime) {
            *why = "the block of \"" + portLine +
                   "\" lacks its process line, its time line or its closing empty line";
            continue;
        }
        why->clear();
        return true;
    }
    return false;
}

}  // namespace lystrel_test
