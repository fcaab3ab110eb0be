// Address texts in the form Windows Sockets gives them. This header includes
// only standard headers.
#pragma once

#include <cstdint>
#include <string>

namespace lystrel::layer {

/// Dotted decimal, with ":port" when the port (host order) is nonzero.
std::string FormatIPv4Address(const uint8_t address[4], uint16_t port);

/// Lower-case hexadecimal groups without leading zeros; the longest run of
/// two or more zero groups (the first of equal runs) becomes "::". The
/// ::ffff:a.b.c.d and ::a.b.c.d forms are used when the IPv4 part's high 16
/// bits are nonzero. A nonzero scope adds "%scope"; a nonzero port (host
/// order) gives "[text]:port".
std::string FormatIPv6Address(const uint8_t address[16], uint32_t scopeId, uint16_t port);

}  // namespace lystrel::layer
