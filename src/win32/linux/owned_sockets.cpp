// Joins the kernel's socket tables with the processes that hold the sockets.
#include "owned_sockets.h"

#include <optional>
#include <string>
#include <unordered_map>

#include "layer.h"
#include "proc_net.h"
#include "process_start.h"
#include "socket_diag.h"
#include "socket_owners.h"

namespace lystrel::layer {
namespace {

// What the reads learn once per run and keep: the owner index, the boot time
// and the start times of owners. Reset when the layer's root changes.
struct OwnerState {
    std::string root;
    SocketOwnerIndex owners;
    unsigned scans = 0;
    bool bootRead = false;
    std::optional<uint64_t> bootSeconds;
    std::unordered_map<uint32_t, uint64_t> startFileTimes;

    void Rescan() {
        owners.Scan();
        ++scans;
        // A pid seen again may belong to a new process.
        startFileTimes.clear();
    }

    const std::optional<uint64_t>& BootSeconds() {
        if (!bootRead) {
            bootSeconds = ReadBootTime();
            bootRead = true;
        }
        return bootSeconds;
    }

    // The boot time; 0 (1601) when /proc/stat does not tell it.
    uint64_t BootFileTime() {
        const std::optional<uint64_t>& seconds = BootSeconds();
        return seconds ? FileTimeAfterBoot(*seconds, 0, ClockTicksPerSecond()) : 0;
    }

    // The owner's start time; the boot time when its stat cannot be read.
    uint64_t StartFileTime(uint32_t pid) {
        auto found = startFileTimes.find(pid);
        if (found != startFileTimes.end()) return found->second;
        const std::optional<uint64_t> ticks = ReadStartTicks(pid);
        const std::optional<uint64_t>& seconds = BootSeconds();
        const uint64_t value =
            ticks && seconds ? FileTimeAfterBoot(*seconds, *ticks, ClockTicksPerSecond()) : BootFileTime();
        startFileTimes.emplace(pid, value);
        return value;
    }
};

OwnerState& State() {
    static OwnerState state;
    if (state.root != Root()) {
        state = OwnerState();
        state.root = Root();
    }
    return state;
}

bool ReadKernelSockets(SocketFamily family, SocketProtocol protocol, std::vector<KernelSocket>& sockets) {
    // Netlink describes the live kernel, which only the real root matches.
    if (Root() == "/" && DumpKernelSockets(family, protocol, sockets)) return true;
    return ReadProcNetSockets(family, protocol, sockets);
}

}  // namespace

bool ReadOwnedSockets(SocketFamily family, SocketProtocol protocol, std::vector<OwnedSocket>& sockets) {
    sockets.clear();
    std::vector<KernelSocket> kernelSockets;
    if (!ReadKernelSockets(family, protocol, kernelSockets)) return false;

    OwnerState& state = State();
    // A scan made by this call is fresh enough; an older one is refreshed
    // once when it does not know one of the sockets.
    bool scannedNow = false;
    if (!state.owners.Scanned()) {
        state.Rescan();
        scannedNow = true;
    }
    sockets.reserve(kernelSockets.size());
    for (const KernelSocket& kernelSocket : kernelSockets) {
        OwnedSocket owned;
        owned.socket = kernelSocket;
        std::optional<uint32_t> pid;
        if (kernelSocket.inode != 0) {
            pid = state.owners.OwnerOf(kernelSocket.inode);
            if (!pid && !scannedNow) {
                state.Rescan();
                scannedNow = true;
                pid = state.owners.OwnerOf(kernelSocket.inode);
            }
        }
        owned.owningPid = pid ? *pid : 0;
        owned.openedAt = pid ? state.StartFileTime(*pid) : state.BootFileTime();
        sockets.push_back(owned);
    }
    return true;
}

unsigned OwnerScanCount() { return State().scans; }

}  // namespace lystrel::layer
