// Capability sets through capget/capset, version 3 (two 32-bit words per set).
#include "debug_capabilities.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#include "fault_injection.h"

namespace lystrel::layer {
namespace {

constexpr int kDebugCapabilities[] = {CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH};

struct CapabilitySets {
    __user_cap_header_struct header;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
};

bool ReadSets(CapabilitySets& sets) {
    sets = CapabilitySets{};
    sets.header.version = _LINUX_CAPABILITY_VERSION_3;
    sets.header.pid = 0;
    return !Faulted(Fault::CapabilityGet) && syscall(SYS_capget, &sets.header, sets.data) == 0;
}

bool WriteSets(CapabilitySets& sets) {
    sets.header.version = _LINUX_CAPABILITY_VERSION_3;
    sets.header.pid = 0;
    return !Faulted(Fault::CapabilitySet) && syscall(SYS_capset, &sets.header, sets.data) == 0;
}

uint32_t Bit(int capability) { return uint32_t{1} << (capability % 32); }

bool Holds(uint32_t set, int capability) { return (set & Bit(capability)) != 0; }

CapabilityChange Change(bool raise) {
    CapabilitySets sets;
    if (!ReadSets(sets)) return CapabilityChange::Failed;
    // Raising is all or nothing: reading other users' descriptors and images
    // needs both capabilities, so a process that holds only one of them keeps
    // its sets as they were.
    if (raise) {
        for (int capability : kDebugCapabilities)
            if (!Holds(sets.data[capability / 32].permitted, capability))
                return CapabilityChange::NotAllHeld;
    }
    bool changed = false;
    for (int capability : kDebugCapabilities) {
        __user_cap_data_struct& word = sets.data[capability / 32];
        if (Holds(word.effective, capability) == raise) continue;
        if (raise)
            word.effective |= Bit(capability);
        else
            word.effective &= ~Bit(capability);
        changed = true;
    }
    if (changed && !WriteSets(sets)) return CapabilityChange::Failed;
    return CapabilityChange::Done;
}

}  // namespace

CapabilityChange RaiseDebugCapabilities() { return Change(true); }

CapabilityChange LowerDebugCapabilities() { return Change(false); }

bool DebugCapabilitiesEffective() {
    CapabilitySets sets;
    if (!ReadSets(sets)) return false;
    for (int capability : kDebugCapabilities)
        if (!Holds(sets.data[capability / 32].effective, capability)) return false;
    return true;
}

}  // namespace lystrel::layer
