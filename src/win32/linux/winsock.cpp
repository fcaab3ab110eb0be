// The Windows Sockets functions our code calls: starting the layer, address
// texts and byte order.
#include <cstring>
#include <string>

#include "address_text.h"
#include "layer.h"
#include "win32.h"

using namespace lystrel;

namespace {

constexpr int kWsaVersionNotSupported = 10092;
constexpr WORD kHighestVersion = 0x0202;

// Sets the last error and gives SOCKET_ERROR.
INT Fail(DWORD code) {
    layer::SetError(code);
    return SOCKET_ERROR;
}

}  // namespace

int WINAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    if (lpWSAData == nullptr) return WSAEFAULT;
    const uint8_t major = static_cast<uint8_t>(wVersionRequested & 0xFF);
    const uint8_t minor = static_cast<uint8_t>(wVersionRequested >> 8);
    std::memset(lpWSAData, 0, sizeof *lpWSAData);
    // The version in use is the one asked for, or 2.2 when more is asked.
    const bool above = major > 2 || (major == 2 && minor > 2);
    lpWSAData->wVersion = above ? kHighestVersion : wVersionRequested;
    lpWSAData->wHighVersion = kHighestVersion;
    std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
    std::strcpy(lpWSAData->szSystemStatus, "Running");
    if (major == 0) return kWsaVersionNotSupported;
    return 0;
}

INT WINAPI WSAAddressToStringA(LPSOCKADDR lpsaAddress, DWORD dwAddressLength,
                               LPWSAPROTOCOL_INFOA /*lpProtocolInfo*/, LPSTR lpszAddressString,
                               LPDWORD lpdwAddressStringLength) {
    if (lpsaAddress == nullptr || lpszAddressString == nullptr || lpdwAddressStringLength == nullptr ||
        dwAddressLength < sizeof(u_short))
        return Fail(WSAEINVAL);

    // The address is copied out by its declared length, so no read goes past it.
    u_short family;
    std::memcpy(&family, lpsaAddress, sizeof family);
    std::string text;
    if (family == AF_INET) {
        if (dwAddressLength < sizeof(SOCKADDR_IN)) return Fail(WSAEINVAL);
        SOCKADDR_IN address;
        std::memcpy(&address, lpsaAddress, sizeof address);
        uint8_t bytes[4];
        std::memcpy(bytes, &address.sin_addr, 4);
        text = layer::FormatIPv4Address(bytes, ntohs(address.sin_port));
    } else if (family == AF_INET6) {
        if (dwAddressLength < sizeof(SOCKADDR_IN6)) return Fail(WSAEINVAL);
        SOCKADDR_IN6 address;
        std::memcpy(&address, lpsaAddress, sizeof address);
        text = layer::FormatIPv6Address(address.sin6_addr.u.Byte, address.sin6_scope_id,
                                        ntohs(address.sin6_port));
    } else {
        return Fail(WSAEINVAL);
    }

    // The length counts the terminating NUL, both given and returned.
    const DWORD need = static_cast<DWORD>(text.size() + 1);
    if (*lpdwAddressStringLength < need) {
        *lpdwAddressStringLength = need;
        return Fail(WSAEFAULT);
    }
    std::memcpy(lpszAddressString, text.c_str(), need);
    *lpdwAddressStringLength = need;
    return 0;
}

u_short WINAPI ntohs(u_short netshort) {
    uint8_t bytes[2];
    std::memcpy(bytes, &netshort, sizeof bytes);
    return static_cast<u_short>((bytes[0] << 8) | bytes[1]);
}
