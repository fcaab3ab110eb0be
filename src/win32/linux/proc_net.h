// The kernel's socket tables as the text files /proc/net/{tcp,tcp6,udp,udp6}
// give them, read when netlink is not available. This header includes only
// standard headers.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "kernel_socket.h"

namespace lystrel::layer {

/// Parses one line of /proc/net/tcp, tcp6, udp or udp6. The header line and
/// malformed or truncated lines give none. The file prints each 32-bit word
/// of the address in host byte order; the result holds network byte order.
std::optional<KernelSocket> ParseProcNetLine(std::string_view line, SocketFamily family,
                                             SocketProtocol protocol);

/// Appends the sockets of the whole file text (TCP: the listening ones).
void ParseProcNetTable(std::string_view text, SocketFamily family, SocketProtocol protocol,
                       std::vector<KernelSocket>& sockets);

/// Reads the family's and protocol's file under the layer's root; false when
/// it cannot be read.
bool ReadProcNetSockets(SocketFamily family, SocketProtocol protocol, std::vector<KernelSocket>& sockets);

}  // namespace lystrel::layer
