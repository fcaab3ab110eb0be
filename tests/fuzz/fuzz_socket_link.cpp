// Feeds arbitrary descriptor link targets to the parser of "socket:[N]".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "socket_owners.h"

using namespace lystrel::layer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A private copy of exactly the text's size, so that any read past its
    // end is caught.
    const std::vector<char> copy(data, data + size);
    const std::string_view target(copy.data(), copy.size());
    const std::optional<uint64_t> inode = ParseSocketLink(target);
    if (!inode) return 0;

    // Only "socket:[" digits "]" gives an inode, and its canonical text gives
    // the same one back.
    constexpr std::string_view kPrefix = "socket:[";
    if (target.substr(0, kPrefix.size()) != kPrefix || target.back() != ']') __builtin_trap();
    const std::string canonical = "socket:[" + std::to_string(*inode) + "]";
    if (ParseSocketLink(canonical) != inode) __builtin_trap();
    // Without leading zeros the text is the canonical one.
    const std::string_view digits = target.substr(kPrefix.size(), target.size() - kPrefix.size() - 1);
    if ((digits.size() == 1 || digits.front() != '0') && target != canonical) __builtin_trap();
    return 0;
}
