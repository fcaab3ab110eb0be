// Standard output as the report's sink. The C runtime's text mode turns each
// "\n" into the platform's line end. Errors of fwrite and fflush are ignored on
// purpose: a reader that went away or a full disk must not change the run.
#include <cstdio>

#include "report.h"

namespace lystrel {

StdoutSink::StdoutSink() { std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16); }

void StdoutSink::Write(const char* data, size_t size) { std::fwrite(data, 1, size, stdout); }

void StdoutSink::Flush() { std::fflush(stdout); }

}  // namespace lystrel
