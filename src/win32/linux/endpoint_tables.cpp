// GetExtendedTcpTable and GetExtendedUdpTable over the kernel's socket tables.
//
// The two calls of the size protocol see the same data: the call that
// measures a table keeps what it read, and the fetch that follows is served
// from it, so sockets that come and go between the calls cannot make the
// fetch fail. A call whose size cannot even hold the table's header (the
// probe) or that asks for another table reads afresh; a successful fetch
// releases what was kept. At most one table is kept at a time.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "layer.h"
#include "owned_sockets.h"
#include "win32.h"

using namespace lystrel;
using layer::OwnedSocket;
using layer::SocketFamily;
using layer::SocketProtocol;

namespace {

constexpr DWORD kErrorNotSupported = 50;
constexpr size_t kRowsOffset = 8;

struct KeptTable {
    bool held = false;
    SocketFamily family = SocketFamily::IPv4;
    SocketProtocol protocol = SocketProtocol::TCP;
    std::vector<OwnedSocket> sockets;
};

std::mutex tableMutex;

KeptTable& Kept() {
    static KeptTable kept;
    return kept;
}

// The port as the tables store it: network byte order in the DWORD's first
// two bytes of memory, the other two zero.
DWORD TablePort(uint16_t port) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port & 0xFF), 0, 0};
    DWORD value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The fields a row kind has of its own: the address, and for TCP the state.
void FillOwnFields(MIB_TCPROW_OWNER_MODULE& row, const OwnedSocket& owned) {
    row.dwState = MIB_TCP_STATE_LISTEN;
    std::memcpy(&row.dwLocalAddr, owned.socket.address, 4);
}

void FillOwnFields(MIB_TCP6ROW_OWNER_MODULE& row, const OwnedSocket& owned) {
    row.dwState = MIB_TCP_STATE_LISTEN;
    std::memcpy(row.ucLocalAddr, owned.socket.address, 16);
    row.dwLocalScopeId = owned.socket.interfaceIndex;
}

void FillOwnFields(MIB_UDPROW_OWNER_MODULE& row, const OwnedSocket& owned) {
    std::memcpy(&row.dwLocalAddr, owned.socket.address, 4);
}

void FillOwnFields(MIB_UDP6ROW_OWNER_MODULE& row, const OwnedSocket& owned) {
    std::memcpy(row.ucLocalAddr, owned.socket.address, 16);
    row.dwLocalScopeId = owned.socket.interfaceIndex;
}

// A whole row; the remote fields and the module information stay zero.
template <typename Row>
void FillRow(Row& row, const OwnedSocket& owned) {
    FillOwnFields(row, owned);
    row.dwLocalPort = TablePort(owned.socket.port);
    row.dwOwningPid = owned.owningPid;
    row.liCreateTimestamp.QuadPart = static_cast<LONGLONG>(owned.openedAt);
}

template <typename Row>
void WriteRows(uint8_t* table, const std::vector<OwnedSocket>& sockets) {
    for (size_t index = 0; index < sockets.size(); ++index) {
        Row row;
        std::memset(&row, 0, sizeof row);
        FillRow(row, sockets[index]);
        std::memcpy(table + kRowsOffset + index * sizeof(Row), &row, sizeof row);
    }
}

size_t RowSize(SocketFamily family, SocketProtocol protocol) {
    if (protocol == SocketProtocol::TCP)
        return family == SocketFamily::IPv4 ? sizeof(MIB_TCPROW_OWNER_MODULE) : sizeof(MIB_TCP6ROW_OWNER_MODULE);
    return family == SocketFamily::IPv4 ? sizeof(MIB_UDPROW_OWNER_MODULE) : sizeof(MIB_UDP6ROW_OWNER_MODULE);
}

void WriteTable(uint8_t* table, SocketFamily family, SocketProtocol protocol,
                const std::vector<OwnedSocket>& sockets) {
    const DWORD count = static_cast<DWORD>(sockets.size());
    std::memcpy(table, &count, sizeof count);  // bytes 4-7 stay as they are
    if (protocol == SocketProtocol::TCP) {
        if (family == SocketFamily::IPv4)
            WriteRows<MIB_TCPROW_OWNER_MODULE>(table, sockets);
        else
            WriteRows<MIB_TCP6ROW_OWNER_MODULE>(table, sockets);
    } else {
        if (family == SocketFamily::IPv4)
            WriteRows<MIB_UDPROW_OWNER_MODULE>(table, sockets);
        else
            WriteRows<MIB_UDP6ROW_OWNER_MODULE>(table, sockets);
    }
}

// Local address, then port; sockets that share both keep the kernel's order.
void SortByLocalEndpoint(std::vector<OwnedSocket>& sockets, SocketFamily family) {
    const size_t addressSize = family == SocketFamily::IPv4 ? 4 : 16;
    std::stable_sort(sockets.begin(), sockets.end(), [addressSize](const OwnedSocket& a, const OwnedSocket& b) {
        const int order = std::memcmp(a.socket.address, b.socket.address, addressSize);
        if (order != 0) return order < 0;
        return a.socket.port < b.socket.port;
    });
}

bool FamilyFromWindows(ULONG ulAf, SocketFamily& family) {
    if (ulAf == AF_INET) {
        family = SocketFamily::IPv4;
        return true;
    }
    if (ulAf == AF_INET6) {
        family = SocketFamily::IPv6;
        return true;
    }
    return false;
}

DWORD ReadTable(PVOID buffer, PDWORD pdwSize, BOOL bOrder, SocketFamily family, SocketProtocol protocol) {
    std::lock_guard<std::mutex> lock(tableMutex);
    KeptTable& kept = Kept();
    const bool probe = buffer == nullptr || *pdwSize < kRowsOffset;
    if (probe || !kept.held || kept.family != family || kept.protocol != protocol) {
        kept.held = false;
        kept.sockets.clear();
        if (!layer::ReadOwnedSockets(family, protocol, kept.sockets)) {
            kept.sockets = std::vector<OwnedSocket>();
            return kErrorNotSupported;
        }
        kept.held = true;
        kept.family = family;
        kept.protocol = protocol;
    }

    const size_t need = kRowsOffset + kept.sockets.size() * RowSize(family, protocol);
    if (need > UINT32_MAX) {
        kept = KeptTable();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (buffer == nullptr || *pdwSize < need) {
        *pdwSize = static_cast<DWORD>(need);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (bOrder) SortByLocalEndpoint(kept.sockets, family);
    WriteTable(static_cast<uint8_t*>(buffer), family, protocol, kept.sockets);
    *pdwSize = static_cast<DWORD>(need);
    // Releases the memory too, so nothing of the table outlives its fetch.
    kept = KeptTable();
    return NO_ERROR;
}

}  // namespace

DWORD WINAPI GetExtendedTcpTable(PVOID pTcpTable, PDWORD pdwSize, BOOL bOrder, ULONG ulAf,
                                 TCP_TABLE_CLASS TableClass, ULONG Reserved) {
    SocketFamily family;
    if (pdwSize == nullptr || Reserved != 0 || !FamilyFromWindows(ulAf, family) ||
        TableClass != TCP_TABLE_OWNER_MODULE_LISTENER)
        return ERROR_INVALID_PARAMETER;
    return ReadTable(pTcpTable, pdwSize, bOrder, family, SocketProtocol::TCP);
}

DWORD WINAPI GetExtendedUdpTable(PVOID pUdpTable, PDWORD pdwSize, BOOL bOrder, ULONG ulAf,
                                 UDP_TABLE_CLASS TableClass, ULONG Reserved) {
    SocketFamily family;
    if (pdwSize == nullptr || Reserved != 0 || !FamilyFromWindows(ulAf, family) ||
        TableClass != UDP_TABLE_OWNER_MODULE)
        return ERROR_INVALID_PARAMETER;
    return ReadTable(pUdpTable, pdwSize, bOrder, family, SocketProtocol::UDP);
}
