// A report sink that keeps everything written to it in memory and notes where
// in the text each flush happened.
#pragma once

#include <string>
#include <vector>

#include "report.h"

namespace lystrel::testing {

class CapturingSink : public ReportSink {
public:
    void Write(const char* data, size_t size) override { text.append(data, size); }
    void Flush() override { flushedAt.push_back(text.size()); }

    /// Everything written so far.
    std::string text;
    /// The length of the text at each flush, in flush order.
    std::vector<size_t> flushedAt;
};

}  // namespace lystrel::testing
