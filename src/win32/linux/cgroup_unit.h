// Which systemd service a process belongs to, read from the text of its
// /proc/PID/cgroup. Standard headers only, so that fuzz targets and tests can
// call the parser without the Win32 declarations.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lystrel::layer {

/// The service unit (such as "ssh.service") whose control group holds a
/// process, from the text of its /proc/PID/cgroup; none for a process outside
/// any service (a scope, the root group, a malformed or truncated text).
///
/// systemd's own hierarchy is read: the "name=systemd" line of cgroup v1 and
/// hybrid systems first, then the "0::" line of the unified hierarchy. In the
/// group path leading slices (and nested ones) are skipped, and the next
/// component must be a service unit. Units inside a service's own subtree,
/// such as a user's units below "user@1000.service", belong to that service:
/// it is the system's service that hosts them.
std::optional<std::string> ParseCgroupServiceUnit(std::string_view cgroupText);

/// Whether `name` is a well-formed service unit name: "NAME.service" or
/// "NAME@INSTANCE.service" with the bytes systemd allows in unit names.
bool IsServiceUnitName(std::string_view name);

}  // namespace lystrel::layer
