// Feeds arbitrary /proc/PID/cgroup texts to the parser of a process's service
// unit, and the same bytes as a unit name to the name check.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cgroup_unit.h"

using namespace lystrel::layer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A private copy of exactly the text's size, so that any read past its
    // end is caught.
    const std::vector<char> copy(data, data + size);
    const std::string_view text(copy.data(), copy.size());

    if (const std::optional<std::string> unit = ParseCgroupServiceUnit(text)) {
        // A unit is a well-formed service name taken from the text itself.
        if (!IsServiceUnitName(*unit)) __builtin_trap();
        if (text.find(*unit) == std::string_view::npos) __builtin_trap();
        if (unit->find_first_of(std::string_view("/\n\0", 3)) != std::string::npos) __builtin_trap();
    }

    // A well-formed name is found again in every hierarchy layout.
    if (IsServiceUnitName(text)) {
        const std::string name(text);
        const std::string layouts[] = {
            "0::/system.slice/" + name + "\n",
            "0::/" + name,
            "12:cpu,cpuacct:/\n1:name=systemd:/system.slice/" + name + "/sub\n0::/\n",
            "0::/user.slice/user-1000.slice/" + name + "/app.slice/x.service\n",
        };
        for (const std::string& layout : layouts)
            if (ParseCgroupServiceUnit(layout) != name) __builtin_trap();
    }
    return 0;
}
