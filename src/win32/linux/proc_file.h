// Reading whole files of /proc, whose sizes the kernel does not report.
#pragma once

#include <string>

namespace lystrel::layer {

/// Reads the whole file at the host path into `text`; false when it cannot
/// be opened or read. Reads at most `limit` bytes.
bool ReadWholeFile(const std::string& hostPath, std::string& text, size_t limit = 64u << 20);

}  // namespace lystrel::layer
