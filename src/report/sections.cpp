// The four sections of the report, in the order they are printed.
#include "report.h"

namespace lystrel {

const PortSection kPortSections[4] = {
    {AddressFamily::IPv4, TransportProtocol::TCP, 2, 6, "- IPv4 TCP ports -\n\n",
     "Error: Unable to determine buffer size IP v4 TCP\n",
     "Error: Unable to get ports information IP v4 TCP (%d)\n",
     "Error: Unable to convert IP address IP v4 TCP (%d)\n"},
    {AddressFamily::IPv4, TransportProtocol::UDP, 2, 2, "- IPv4 UDP ports -\n\n",
     "Error: Unable to determine buffer size IP v4 UDP\n",
     "Error: Unable to get ports information IP v4 UDP (%d)\n",
     "Error: Unable to convert IP address IP v4 UDP (%d)\n"},
    {AddressFamily::IPv6, TransportProtocol::TCP, 23, 6, "- IPv6 TCP ports -\n\n",
     "Error: Unable to determine buffer size IP v6 TCP\n",
     "Error: Unable to get ports information IP v6 TCP (%d)\n",
     "Error: Unable to convert IP address IP v6 TCP (%d)\n"},
    {AddressFamily::IPv6, TransportProtocol::UDP, 23, 2, "- IPv6 UDP ports -\n\n",
     "Error: Unable to determine buffer size IP v6 UDP\n",
     "Error: Unable to get ports information IP v6 UDP (%d)\n",
     "Error: Unable to convert IP address IP v6 UDP (%d)\n"},
};

}  // namespace lystrel
