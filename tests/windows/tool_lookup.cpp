// Program lookup along PATH, as a shell does it.
#include "tool_lookup.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace lystrel_test {

std::optional<std::string> FindProgram(const std::string& name,
                                       const std::vector<std::string>& fallbacks) {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    for (const std::string& candidate : fallbacks) {
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace lystrel_test
