// The kernel's sockets of one table together with the process that holds
// each and the time taken as its opening time. This header includes only
// standard headers.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel_socket.h"

namespace lystrel::layer {

/// A socket with its owner.
struct OwnedSocket {
    KernelSocket socket;
    /// The lowest pid whose /proc/PID/fd holds the socket; 0 for none.
    uint32_t owningPid = 0;
    /// FILETIME of the owner's start, or of the boot when there is no owner.
    uint64_t openedAt = 0;
};

/// Reads the family's and protocol's sockets (TCP: listeners; UDP: all) and
/// their owners. With the layer's root at "/" the kernel is asked over
/// netlink, falling back to /proc/net when that fails; under any other root
/// /proc/net of that tree is read. The /proc scan for owners runs once and
/// again at most once per call, only when a socket's inode is not found.
/// False when neither source can be read.
bool ReadOwnedSockets(SocketFamily family, SocketProtocol protocol, std::vector<OwnedSocket>& sockets);

/// How many /proc scans the reads have made since the root last changed.
unsigned OwnerScanCount();

}  // namespace lystrel::layer
