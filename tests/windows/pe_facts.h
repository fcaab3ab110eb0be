// The facts of a PE image that the tests check, as the MinGW objdump reports them.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lystrel_test {

/// One resource as the image's resource directory lists it.
struct ResourceLeaf {
    std::uint32_t type = 0;
    std::uint32_t id = 0;
    std::uint32_t language = 0;
    std::uint32_t rva = 0;   // the data's relative virtual address
    std::uint32_t size = 0;
};

/// The header fields, imports and resources of one exe.
struct PeFacts {
    std::optional<std::uint32_t> magic;
    std::optional<std::uint32_t> subsystem;
    std::optional<std::uint32_t> majorSubsystemVersion, minorSubsystemVersion;
    std::optional<std::uint32_t> majorOsVersion, minorOsVersion;
    std::set<std::string> importedDlls;          // lower case
    std::vector<ResourceLeaf> resources;
    std::uint64_t resourceSectionRva = 0;        // .rsrc address less the image base
    std::uint64_t resourceSectionFileOffset = 0;
    std::uint64_t resourceSectionSize = 0;
};

/// Parses `objdump -p` (private headers) and `objdump -h` (section headers) output.
PeFacts ParsePeFacts(const std::string& privateHeaders, const std::string& sectionHeaders);

/// The bytes of one resource, cut from the exe's content; none when out of range.
std::optional<std::string> ResourceBytes(const PeFacts& facts, const ResourceLeaf& leaf,
                                         const std::string& exeContent);

}  // namespace lystrel_test
