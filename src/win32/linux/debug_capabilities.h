// The Linux counterpart of the debug privilege: the capabilities that let a
// process read other users' /proc/PID/fd and /proc/PID/exe. Standard headers
// only.
#pragma once

namespace lystrel::layer {

/// The outcome of a change to the debug capabilities.
enum class CapabilityChange {
    /// Every debug capability is now as asked.
    Done,
    /// Some debug capability is not in the permitted set; nothing was changed.
    NotAllHeld,
    /// The kernel refused to read or set the capability sets.
    Failed,
};

/// Raises CAP_SYS_PTRACE and CAP_DAC_READ_SEARCH from the permitted into the
/// effective set when the process holds both; otherwise changes nothing.
CapabilityChange RaiseDebugCapabilities();

/// Lowers CAP_SYS_PTRACE and CAP_DAC_READ_SEARCH from the effective set; the
/// permitted set keeps them.
CapabilityChange LowerDebugCapabilities();

/// Whether both debug capabilities are in the effective set.
bool DebugCapabilitiesEffective();

}  // namespace lystrel::layer
