// Reads the fields of a VERSIONINFO resource (its binary form inside an exe).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lystrel_test {

/// The fixed part's file and product versions, as four 16-bit numbers each.
struct FixedVersion {
    std::uint16_t file[4] = {0, 0, 0, 0};
    std::uint16_t product[4] = {0, 0, 0, 0};
};

/// The fixed file information, found by its 0xFEEF04BD signature; none when absent.
std::optional<FixedVersion> ReadFixedVersion(const std::string& resource);

/// The text of the string-table value named key (ASCII only); none when absent.
std::optional<std::string> ReadVersionString(const std::string& resource, const std::string& key);

}  // namespace lystrel_test
