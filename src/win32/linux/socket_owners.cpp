// Finds the processes that hold sockets by reading /proc/PID/fd. The scan
// iterates directories with getdents64 and reads links with readlinkat
// relative to open directory descriptors, so it allocates nothing per
// descriptor and resolves no path twice.
#include "socket_owners.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fault_injection.h"
#include "layer.h"

namespace lystrel::layer {
namespace {

constexpr std::string_view kSocketPrefix = "socket:[";

// Calls `visit(name)` for each entry of the open directory other than "."
// and "..", reading entries in large batches.
template <typename Visit>
void ForEachEntry(int directory, char* buffer, size_t bufferSize, Visit&& visit) {
    for (;;) {
        const ssize_t count = Faulted(Fault::DirectoryRead) ? -1 : getdents64(directory, buffer, bufferSize);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        size_t offset = 0;
        const size_t filled = static_cast<size_t>(count);
        while (offset + offsetof(dirent64, d_name) < filled) {
            dirent64 entry;
            std::memcpy(&entry, buffer + offset, offsetof(dirent64, d_name));
            const size_t length = entry.d_reclen;
            if (length <= offsetof(dirent64, d_name) || length > filled - offset) return;
            const char* name = buffer + offset + offsetof(dirent64, d_name);
            const size_t nameRoom = length - offsetof(dirent64, d_name);
            const size_t nameLength = strnlen(name, nameRoom);
            offset += length;
            if (nameLength == nameRoom) continue;  // no terminating NUL
            const std::string_view entryName(name, nameLength);
            if (entryName == "." || entryName == "..") continue;
            visit(entryName, entry.d_type);
        }
    }
}

// A process directory's name as a pid; none for anything else.
std::optional<uint32_t> ParsePid(std::string_view name) {
    if (name.empty() || name.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value == 0 || value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<uint64_t> ParseSocketLink(std::string_view target) {
    if (target.size() <= kSocketPrefix.size() + 1 || target.substr(0, kSocketPrefix.size()) != kSocketPrefix ||
        target.back() != ']')
        return std::nullopt;
    const std::string_view digits = target.substr(kSocketPrefix.size(), target.size() - kSocketPrefix.size() - 1);
    if (digits.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

void SocketOwnerIndex::Scan() {
    holders.clear();
    scanned = true;
    const int proc =
        Faulted(Fault::ProcDirectoryOpen) ? -1 : open(HostPath("/proc").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0) return;

    // Two buffers: one for /proc itself, one reused for every fd directory.
    static thread_local char procEntries[32 * 1024];
    static thread_local char fdEntries[32 * 1024];
    char fdPath[32];
    char target[64];

    ForEachEntry(proc, procEntries, sizeof procEntries, [&](std::string_view name, unsigned char type) {
        if (type != DT_DIR && type != DT_UNKNOWN) return;
        const std::optional<uint32_t> pid = ParsePid(name);
        if (!pid) return;
        std::memcpy(fdPath, name.data(), name.size());
        std::memcpy(fdPath + name.size(), "/fd", 4);
        const int fdDirectory =
            Faulted(Fault::FdDirectoryOpen) ? -1 : openat(proc, fdPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDirectory < 0) return;  // vanished, or not ours to read
        ForEachEntry(fdDirectory, fdEntries, sizeof fdEntries, [&](std::string_view fdName, unsigned char fdType) {
            if (fdType != DT_LNK && fdType != DT_UNKNOWN) return;
            // Entry names come NUL-terminated from the kernel's buffer.
            const ssize_t length =
                Faulted(Fault::FdLinkRead) ? -1 : readlinkat(fdDirectory, fdName.data(), target, sizeof target);
            if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return;
            const std::optional<uint64_t> inode = ParseSocketLink(std::string_view(target, static_cast<size_t>(length)));
            if (inode) holders.push_back(Holder{*inode, *pid});
        });
        close(fdDirectory);
    });
    close(proc);

    // One entry per inode, with the lowest pid that holds it.
    std::sort(holders.begin(), holders.end(), [](const Holder& a, const Holder& b) {
        return a.inode != b.inode ? a.inode < b.inode : a.pid < b.pid;
    });
    holders.erase(std::unique(holders.begin(), holders.end(),
                              [](const Holder& a, const Holder& b) { return a.inode == b.inode; }),
                  holders.end());
}

std::optional<uint32_t> SocketOwnerIndex::OwnerOf(uint64_t inode) const {
    auto found = std::lower_bound(holders.begin(), holders.end(), inode,
                                  [](const Holder& holder, uint64_t wanted) { return holder.inode < wanted; });
    if (found == holders.end() || found->inode != inode) return std::nullopt;
    return found->pid;
}

}  // namespace lystrel::layer
