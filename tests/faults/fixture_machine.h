// A small machine in a fixture tree: two processes of two systemd services
// holding sockets in each of the four tables, their descriptors, images,
// start times and control groups, and the services' unit files.
#pragma once

#include <cstdint>

#include "fixture_tree.h"

namespace lystrel::test {

/// Process 100, in demo.service, holds 127.0.0.1:8080 (TCP), 127.0.0.1:5353
/// (UDP) and [::1]:5355 (UDP). Process 200, in linked.service, holds
/// 0.0.0.0:22 (TCP) and [::1]:8443 (TCP). demo.service is described in its
/// unit file and again in a drop-in ("Demo daemon overridden"); linked.service
/// is a symbolic link to a unit file that describes it ("Linked daemon").
/// `unownedRows` listening rows without owner are added to each table, so
/// that each file takes several reads.
void BuildFixtureMachine(const FixtureTree& tree, unsigned unownedRows);

constexpr uint32_t kDemoPid = 100;
constexpr uint32_t kLinkedPid = 200;
constexpr const char* kDemoImage = "/usr/sbin/demo-daemon";
constexpr const char* kLinkedImage = "/usr/bin/linked-daemon";

}  // namespace lystrel::test
