// Feeds arbitrary texts to the parsers of /proc/net/{tcp,tcp6,udp,udp6}. The
// first byte picks the family and protocol; the rest is the file's text,
// parsed as a whole table and line by line.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "proc_net.h"

using namespace lystrel::layer;

namespace {

bool SameSocket(const KernelSocket& a, const KernelSocket& b) {
    return a.family == b.family && a.protocol == b.protocol && a.state == b.state &&
           std::memcmp(a.address, b.address, sizeof a.address) == 0 && a.port == b.port &&
           a.interfaceIndex == b.interfaceIndex && a.inode == b.inode;
}

void CheckSocket(const KernelSocket& socket, SocketFamily family, SocketProtocol protocol) {
    if (socket.family != family || socket.protocol != protocol) __builtin_trap();
    if (socket.interfaceIndex != 0) __builtin_trap();
    // An IPv4 socket carries only the 4 bytes of its address.
    if (family == SocketFamily::IPv4)
        for (size_t byte = 4; byte < sizeof socket.address; ++byte)
            if (socket.address[byte] != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const SocketFamily family = data[0] & 1 ? SocketFamily::IPv6 : SocketFamily::IPv4;
    const SocketProtocol protocol = data[0] & 2 ? SocketProtocol::UDP : SocketProtocol::TCP;
    // A private copy of exactly the text's size, so that any read past its
    // end is caught.
    const std::vector<char> copy(data + 1, data + size);
    const std::string_view text(copy.data(), copy.size());

    if (auto socket = ParseProcNetLine(text, family, protocol)) CheckSocket(*socket, family, protocol);

    std::vector<KernelSocket> table;
    ParseProcNetTable(text, family, protocol, table);

    // The table holds the kept sockets of its lines, in order.
    size_t next = 0;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const auto socket = ParseProcNetLine(line, family, protocol);
        if (!socket) continue;
        CheckSocket(*socket, family, protocol);
        if (protocol == SocketProtocol::TCP && socket->state != kKernelStateListen) continue;
        if (next >= table.size() || !SameSocket(table[next], *socket)) __builtin_trap();
        ++next;
    }
    if (next != table.size()) __builtin_trap();
    return 0;
}
