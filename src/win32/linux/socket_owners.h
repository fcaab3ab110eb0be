// Which process holds which socket: the socket links of /proc/PID/fd. This
// header includes only standard headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace lystrel::layer {

/// The inode of a descriptor link's target "socket:[N]"; none for any other
/// target. N may exceed 32 bits.
std::optional<uint64_t> ParseSocketLink(std::string_view target);

/// The socket inodes held by the processes under the layer's root, each with
/// the lowest pid that holds it.
class SocketOwnerIndex {
public:
    /// Reads every readable /proc/PID/fd under the root, replacing what an
    /// earlier scan found. Processes that vanish or deny access are skipped.
    void Scan();
    /// Whether Scan has run.
    bool Scanned() const { return scanned; }
    /// The lowest pid holding the socket, or none.
    std::optional<uint32_t> OwnerOf(uint64_t inode) const;
    /// How many distinct socket inodes the last scan found.
    size_t Size() const { return holders.size(); }

private:
    struct Holder {
        uint64_t inode;
        uint32_t pid;
    };
    bool scanned = false;
    /// Sorted by inode, one entry per inode.
    std::vector<Holder> holders;
};

}  // namespace lystrel::layer
