// Finds the host programs that the Windows tests drive.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lystrel_test {

/// The full path of the first executable named name in a directory of PATH,
/// else of the first executable among fallbacks (full paths); none when absent.
std::optional<std::string> FindProgram(const std::string& name,
                                       const std::vector<std::string>& fallbacks = {});

}  // namespace lystrel_test
