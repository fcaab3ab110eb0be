// The kernel's socket diagnostics over netlink: one dump per family and
// protocol. This header includes only standard headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel_socket.h"

namespace lystrel::layer {

/// What one received netlink buffer said about the dump.
enum class DiagReplyStatus {
    /// Every message was read; more buffers follow.
    More,
    /// The dump's end was reached.
    Done,
    /// The kernel reported an error, or the buffer was malformed.
    Failed,
};

/// Appends the sockets described in one received buffer of a dump. Every
/// message header and body is bounds-checked: a malformed buffer gives Failed
/// and appends nothing past the last well-formed message. With TCP, only
/// sockets in the listening state are kept.
DiagReplyStatus ParseSocketDiagReply(const uint8_t* data, size_t size, SocketProtocol protocol,
                                     std::vector<KernelSocket>& sockets);

/// Asks the kernel for every socket of the family and protocol (TCP: the
/// listening ones). False when netlink or its socket diagnostics are not
/// available or the dump fails; `sockets` is then left empty.
bool DumpKernelSockets(SocketFamily family, SocketProtocol protocol, std::vector<KernelSocket>& sockets);

}  // namespace lystrel::layer
