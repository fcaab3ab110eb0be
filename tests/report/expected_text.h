// Fixed pieces of the report's text that many expected outputs share.
#pragma once

#include <string>

namespace lystrel::testing {

inline const std::string kBanner =
    "Lystrel 2.0 - who listens on which port of this machine\n"
    "            - https://lystrel.dev/\n"
    "\n";

inline const std::string kHeaderIPv4TCP = "- IPv4 TCP ports -\n\n";
inline const std::string kHeaderIPv4UDP = "- IPv4 UDP ports -\n\n";
inline const std::string kHeaderIPv6TCP = "- IPv6 TCP ports -\n\n";
inline const std::string kHeaderIPv6UDP = "- IPv6 UDP ports -\n\n";

}  // namespace lystrel::testing
