// Points at which tests make the layer's system calls fail. The layer asks
// Faulted right before each call that can fail and, when it answers true,
// takes the call's failure path with the errno that Faulted set. The program
// never arms a fault; disarmed, each point costs one test of a global flag.
// Standard headers only.
#pragma once

namespace lystrel::layer {

/// The system calls of the layer that can fail, one value per call site kind.
enum class Fault {
    NetlinkSocket,        ///< socket() of the NETLINK_SOCK_DIAG socket.
    NetlinkSend,          ///< sendto() of the dump request.
    NetlinkReceive,       ///< recv() of a dump reply datagram.
    ProcFileOpen,         ///< open() of a whole /proc file (/proc/net/*, /proc/stat, /proc/PID/stat).
    ProcFileRead,         ///< read() of such a file.
    ProcDirectoryOpen,    ///< open() of /proc for the socket owner scan.
    FdDirectoryOpen,      ///< openat() of /proc/PID/fd.
    DirectoryRead,        ///< getdents64() of /proc or of /proc/PID/fd.
    FdLinkRead,           ///< readlinkat() of a /proc/PID/fd link.
    ProcessOpen,          ///< open() of /proc/PID by OpenProcess.
    ExeLinkRead,          ///< readlinkat() of /proc/PID/exe.
    SystemdCheck,         ///< stat() of /run/systemd/system.
    ServiceProcListing,   ///< opendir() of /proc for the service scan.
    ServiceProcEntry,     ///< readdir() of that listing.
    CgroupFileOpen,       ///< open() of /proc/PID/cgroup.
    CgroupFileRead,       ///< read() of /proc/PID/cgroup.
    UnitFileStat,         ///< lstat() of a unit file or drop-in file.
    UnitFileLinkRead,     ///< readlink() of a linked unit file.
    UnitFileOpen,         ///< open() of a unit file or drop-in file.
    UnitFileRead,         ///< read() of a unit file or drop-in file.
    DropInDirectoryOpen,  ///< opendir() of a unit's drop-in directory.
    DropInDirectoryEntry, ///< readdir() of a drop-in directory.
    CapabilityGet,        ///< capget().
    CapabilitySet,        ///< capset().
    Count
};

/// Arm with this occurrence to fail every call of the kind.
constexpr unsigned kEveryOccurrence = 0;

namespace detail {
extern bool faultsArmed;
bool TakeFault(Fault fault);
}  // namespace detail

/// True when a test armed the fault for this call: errno is then set to the
/// armed error and the caller acts as if the call failed. Always false, at
/// the cost of one branch, when nothing is armed.
inline bool Faulted(Fault fault) { return detail::faultsArmed && detail::TakeFault(fault); }

/// Makes calls of the kind fail with `error`: every call, or only the
/// occurrence-th call (counting from 1) after arming. Several kinds may be
/// armed at once; arming a kind again replaces its plan and its count.
void ArmFault(Fault fault, int error, unsigned occurrence = kEveryOccurrence);
/// Disarms every kind. The counts of the last arming of each kind stay
/// readable until the kind is armed again.
void DisarmFaults();
/// How often a call of the kind was reached since it was armed, failed or not.
unsigned FaultReached(Fault fault);
/// How often a call of the kind was made to fail since it was armed.
unsigned FaultFailed(Fault fault);

}  // namespace lystrel::layer
