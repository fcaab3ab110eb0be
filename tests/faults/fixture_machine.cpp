#include "fixture_machine.h"

#include <cstdio>
#include <string>

namespace lystrel::test {
namespace {

const char kTcpHeader[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
const char kLoopback6[] = "00000000000000000000000001000000";

// One row of a /proc/net table in the kernel's layout.
std::string Row(unsigned slot, const std::string& address, unsigned port, unsigned state, unsigned long inode) {
    const std::string remote = address.size() == 8 ? "00000000" : std::string(32, '0');
    char line[320];
    std::snprintf(line, sizeof line,
                  "%4u: %s:%04X %s:0000 %02X 00000000:00000000 00:00000000 00000000     0        0 %lu 1 "
                  "0000000000000000 100 0 0 10 0\n",
                  slot, address.c_str(), port, remote.c_str(), state, inode);
    return line;
}

std::string Table(const std::string& owned, const std::string& address, unsigned state, unsigned unownedRows) {
    std::string text = kTcpHeader;
    text += owned;
    for (unsigned row = 0; row < unownedRows; ++row) text += Row(10 + row, address, 30000 + row, state, 0);
    return text;
}

std::string Stat(uint32_t pid, const char* name, unsigned startTicks) {
    std::string text = std::to_string(pid) + " (" + name + ") S";
    for (int field = 4; field <= 21; ++field) text += " 1";
    return text + " " + std::to_string(startTicks) + " 0 0 0\n";
}

}  // namespace

void BuildFixtureMachine(const FixtureTree& tree, unsigned unownedRows) {
    // 0x0A is a listener, 0x01 an established connection, 0x07 a closed UDP socket.
    tree.Write("/proc/net/tcp", Table(Row(0, "0100007F", 8080, 0x0A, 5001) + Row(1, "00000000", 22, 0x0A, 5002) +
                                          Row(2, "0100007F", 9000, 0x01, 5009),
                                      "0100007F", 0x0A, unownedRows));
    tree.Write("/proc/net/udp", Table(Row(0, "0100007F", 5353, 0x07, 5003), "0100007F", 0x07, unownedRows));
    tree.Write("/proc/net/tcp6", Table(Row(0, kLoopback6, 8443, 0x0A, 5004), kLoopback6, 0x0A, unownedRows));
    tree.Write("/proc/net/udp6", Table(Row(0, kLoopback6, 5355, 0x07, 5005), kLoopback6, 0x07, unownedRows));
    tree.Write("/proc/stat", "cpu  1 2 3 4\nbtime 1700000000\nprocesses 300\n");

    tree.Link("/proc/100/fd/0", "/dev/null");
    tree.Link("/proc/100/fd/3", "socket:[5001]");
    tree.Link("/proc/100/fd/4", "socket:[5003]");
    tree.Link("/proc/100/fd/5", "socket:[5005]");
    tree.Link("/proc/100/exe", kDemoImage);
    tree.Write("/proc/100/stat", Stat(kDemoPid, "demo-daemon", 720000));
    tree.Write("/proc/100/cgroup", "0::/system.slice/demo.service\n");

    tree.Link("/proc/200/fd/3", "socket:[5002]");
    tree.Link("/proc/200/fd/4", "socket:[5004]");
    tree.Link("/proc/200/exe", kLinkedImage);
    tree.Write("/proc/200/stat", Stat(kLinkedPid, "linked-daemon", 900000));
    tree.Write("/proc/200/cgroup", "0::/system.slice/linked.service\n");

    tree.MakeFolder("/run/systemd/system");
    tree.Write("/usr/lib/systemd/system/demo.service", "[Unit]\nDescription=Demo daemon\n\n[Service]\nExecStart=/usr/sbin/demo-daemon\n");
    tree.Write("/etc/systemd/system/demo.service.d/override.conf", "[Unit]\nDescription=Demo daemon overridden\n");
    tree.Write("/usr/lib/systemd/system/linked-real.service", "[Unit]\nDescription=Linked daemon\n");
    tree.Link("/etc/systemd/system/linked.service", "/usr/lib/systemd/system/linked-real.service");
}

}  // namespace lystrel::test
