// The running systemd services and the processes inside them, from one scan
// of /proc under the layer's root. Standard headers only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lystrel::layer {

/// One process inside one running service.
struct ServiceProcess {
    uint32_t pid = 0;
    /// The unit's name without ".service", such as "ssh" or "getty@tty1",
    /// with control bytes escaped.
    std::string serviceName;
    /// The unit's description, or the service name when it has none, with
    /// control bytes escaped.
    std::string displayName;
};

/// Every process that lies in a service unit's control group, ordered by
/// service name and then pid. Empty when systemd does not run the machine
/// (no /run/systemd/system). Processes that end during the scan are left out.
std::vector<ServiceProcess> ScanServiceProcesses();

}  // namespace lystrel::layer
