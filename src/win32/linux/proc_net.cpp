// Parses the socket tables of /proc/net.
#include "proc_net.h"

#include <cstring>
#include <string>

#include "layer.h"
#include "proc_file.h"

namespace lystrel::layer {
namespace {

// Splits off the next blank-separated token of `rest`; empty at the end.
std::string_view NextToken(std::string_view& rest) {
    size_t begin = 0;
    while (begin < rest.size() && (rest[begin] == ' ' || rest[begin] == '\t')) ++begin;
    size_t end = begin;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t') ++end;
    std::string_view token = rest.substr(begin, end - begin);
    rest.remove_prefix(end);
    return token;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Exactly `digits` hexadecimal digits (at most 8).
bool ParseHex(std::string_view text, size_t digits, uint32_t& value) {
    if (text.size() != digits) return false;
    value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return false;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

bool ParseDecimal64(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

// "ADDRESS:PORT" with the address as 8 (IPv4) or 32 (IPv6) hex digits, each
// 32-bit word printed from its host-order value.
bool ParseEndpoint(std::string_view text, SocketFamily family, KernelSocket& socket) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view address = text.substr(0, colon);
    const size_t words = family == SocketFamily::IPv4 ? 1 : 4;
    if (address.size() != words * 8) return false;
    for (size_t word = 0; word < words; ++word) {
        uint32_t value = 0;
        if (!ParseHex(address.substr(word * 8, 8), 8, value)) return false;
        std::memcpy(socket.address + word * 4, &value, 4);
    }
    uint32_t port = 0;
    if (!ParseHex(text.substr(colon + 1), 4, port)) return false;
    socket.port = static_cast<uint16_t>(port);
    return true;
}

const char* FileName(SocketFamily family, SocketProtocol protocol) {
    if (protocol == SocketProtocol::TCP) return family == SocketFamily::IPv4 ? "/proc/net/tcp" : "/proc/net/tcp6";
    return family == SocketFamily::IPv4 ? "/proc/net/udp" : "/proc/net/udp6";
}

}  // namespace

std::optional<KernelSocket> ParseProcNetLine(std::string_view line, SocketFamily family,
                                             SocketProtocol protocol) {
    KernelSocket socket;
    socket.family = family;
    socket.protocol = protocol;

    // The slot number, "N:".
    const std::string_view slot = NextToken(line);
    if (slot.size() < 2 || slot.back() != ':') return std::nullopt;
    for (size_t i = 0; i + 1 < slot.size(); ++i)
        if (slot[i] < '0' || slot[i] > '9') return std::nullopt;

    if (!ParseEndpoint(NextToken(line), family, socket)) return std::nullopt;
    KernelSocket remote;
    if (!ParseEndpoint(NextToken(line), family, remote)) return std::nullopt;
    uint32_t state = 0;
    if (!ParseHex(NextToken(line), 2, state)) return std::nullopt;
    socket.state = static_cast<uint8_t>(state);
    // Queues, timer, retransmits, uid and timeout come before the inode.
    for (int skipped = 0; skipped < 5; ++skipped)
        if (NextToken(line).empty()) return std::nullopt;
    if (!ParseDecimal64(NextToken(line), socket.inode)) return std::nullopt;
    return socket;
}

void ParseProcNetTable(std::string_view text, SocketFamily family, SocketProtocol protocol,
                       std::vector<KernelSocket>& sockets) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::optional<KernelSocket> socket = ParseProcNetLine(line, family, protocol);
        if (!socket) continue;
        if (protocol == SocketProtocol::TCP && socket->state != kKernelStateListen) continue;
        sockets.push_back(*socket);
    }
}

bool ReadProcNetSockets(SocketFamily family, SocketProtocol protocol, std::vector<KernelSocket>& sockets) {
    sockets.clear();
    std::string text;
    if (!ReadWholeFile(HostPath(FileName(family, protocol)), text)) return false;
    ParseProcNetTable(text, family, protocol, sockets);
    return true;
}

}  // namespace lystrel::layer
