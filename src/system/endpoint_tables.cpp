// The socket layer and the owner-module endpoint tables of IP Helper.
#include <cstring>
#include <memory>
#include <new>

#include "win32.h"
#include "windows_queries.h"

namespace lystrel {
namespace {

// Calls the section's table function; the other arguments never change.
DWORD CallTableFunction(const PortSection& section, void* buffer, DWORD* size) {
    if (section.protocol == TransportProtocol::TCP)
        return GetExtendedTcpTable(buffer, size, TRUE, section.platformAddressFamily,
                                   static_cast<TCP_TABLE_CLASS>(section.tableClass), 0);
    return GetExtendedUdpTable(buffer, size, TRUE, section.platformAddressFamily,
                               static_cast<UDP_TABLE_CLASS>(section.tableClass), 0);
}

uint64_t FileTimeValue(const LARGE_INTEGER& value) { return static_cast<uint64_t>(value.QuadPart); }

uint16_t PortFromRow(DWORD dwLocalPort) { return ntohs(static_cast<u_short>(dwLocalPort & 0xFFFF)); }

// The local address of an IPv4 row: 4 bytes as stored, no scope.
template <typename Row>
void CopyIPv4Address(ListeningEndpoint& endpoint, const Row& row) {
    std::memcpy(endpoint.localAddress, &row.dwLocalAddr, 4);
}

// The local address of an IPv6 row: 16 bytes as stored and the scope as it is.
template <typename Row>
void CopyIPv6Address(ListeningEndpoint& endpoint, const Row& row) {
    std::memcpy(endpoint.localAddress, row.ucLocalAddr, 16);
    endpoint.scopeId = row.dwLocalScopeId;
}

void CopyAddress(ListeningEndpoint& endpoint, const MIB_TCPROW_OWNER_MODULE& row) { CopyIPv4Address(endpoint, row); }
void CopyAddress(ListeningEndpoint& endpoint, const MIB_UDPROW_OWNER_MODULE& row) { CopyIPv4Address(endpoint, row); }
void CopyAddress(ListeningEndpoint& endpoint, const MIB_TCP6ROW_OWNER_MODULE& row) { CopyIPv6Address(endpoint, row); }
void CopyAddress(ListeningEndpoint& endpoint, const MIB_UDP6ROW_OWNER_MODULE& row) { CopyIPv6Address(endpoint, row); }

template <typename Row>
ListeningEndpoint EndpointFromRow(const PortSection& section, const Row& row) {
    ListeningEndpoint endpoint;
    endpoint.family = section.family;
    endpoint.protocol = section.protocol;
    CopyAddress(endpoint, row);
    endpoint.localPort = PortFromRow(row.dwLocalPort);
    endpoint.owningPid = row.dwOwningPid;
    endpoint.creationTime = FileTimeValue(row.liCreateTimestamp);
    return endpoint;
}

// Reads the rows of a table whose rows have type Row. Rows are copied out
// rather than read in place, so the buffer needs no particular alignment.
template <typename Table, typename Row>
void ConvertRows(const PortSection& section, const uint8_t* table, size_t size,
                 std::vector<ListeningEndpoint>& endpoints) {
    const size_t rowsOffset = offsetof(Table, table);
    if (table == nullptr || size < rowsOffset) return;
    DWORD count = 0;
    std::memcpy(&count, table, sizeof count);
    const size_t fitting = (size - rowsOffset) / sizeof(Row);
    const size_t rows = count < fitting ? count : fitting;
    endpoints.reserve(rows);
    for (size_t index = 0; index < rows; ++index) {
        Row row;
        std::memcpy(&row, table + rowsOffset + index * sizeof(Row), sizeof row);
        endpoints.push_back(EndpointFromRow(section, row));
    }
}

}  // namespace

void ConvertEndpointRows(const PortSection& section, const uint8_t* table, size_t size,
                         std::vector<ListeningEndpoint>& endpoints) {
    const bool ipv4 = section.family == AddressFamily::IPv4;
    if (section.protocol == TransportProtocol::TCP) {
        if (ipv4)
            ConvertRows<MIB_TCPTABLE_OWNER_MODULE, MIB_TCPROW_OWNER_MODULE>(section, table, size, endpoints);
        else
            ConvertRows<MIB_TCP6TABLE_OWNER_MODULE, MIB_TCP6ROW_OWNER_MODULE>(section, table, size, endpoints);
    } else {
        if (ipv4)
            ConvertRows<MIB_UDPTABLE_OWNER_MODULE, MIB_UDPROW_OWNER_MODULE>(section, table, size, endpoints);
        else
            ConvertRows<MIB_UDP6TABLE_OWNER_MODULE, MIB_UDP6ROW_OWNER_MODULE>(section, table, size, endpoints);
    }
}

int32_t WindowsSystemQueries::StartSocketLayer() {
    WSADATA data;
    return WSAStartup(0x0202, &data);
}

EndpointTable WindowsSystemQueries::ReadEndpointTable(const PortSection& section) {
    EndpointTable result;

    // The probe: a one-byte buffer must be answered with the size the table needs.
    uint8_t scratch[1] = {};
    DWORD size = 1;
    if (CallTableFunction(section, scratch, &size) != ERROR_INSUFFICIENT_BUFFER) {
        result.status = EndpointTable::Status::SizeProbeFailed;
        return result;
    }

    // The fetch, into exactly the probed size. A table that grew in between
    // fails the fetch, and that failure is reported, not retried.
    const DWORD allocated = size;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[allocated == 0 ? 1 : allocated]);
    if (!buffer) {
        result.status = EndpointTable::Status::FetchFailed;
        result.fetchCode = ERROR_NOT_ENOUGH_MEMORY;
        return result;
    }
    const DWORD status = CallTableFunction(section, buffer.get(), &size);
    if (status != NO_ERROR) {
        result.status = EndpointTable::Status::FetchFailed;
        result.fetchCode = static_cast<int32_t>(status);
        return result;
    }
    // On success the size variable holds the bytes used; never read past
    // either that or the allocation.
    ConvertEndpointRows(section, buffer.get(), size < allocated ? size : allocated, result.endpoints);
    return result;
}

AddressText WindowsSystemQueries::FormatEndpointAddress(const ListeningEndpoint& endpoint) {
    AddressText result;
    // The port is 0 so that the text holds the address alone.
    char text[100] = {};
    DWORD length = 0;
    INT status;
    if (endpoint.family == AddressFamily::IPv4) {
        SOCKADDR_IN address;
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_port = 0;
        std::memcpy(&address.sin_addr, endpoint.localAddress, 4);
        length = 16;
        status = WSAAddressToStringA(reinterpret_cast<LPSOCKADDR>(&address), sizeof address, nullptr,
                                     text, &length);
    } else {
        SOCKADDR_IN6 address;
        std::memset(&address, 0, sizeof address);
        address.sin6_family = AF_INET6;
        address.sin6_port = 0;
        address.sin6_flowinfo = 0;
        std::memcpy(&address.sin6_addr, endpoint.localAddress, 16);
        address.sin6_scope_id = endpoint.scopeId;
        length = 100;
        status = WSAAddressToStringA(reinterpret_cast<LPSOCKADDR>(&address), sizeof address, nullptr,
                                     text, &length);
    }
    if (status != 0) {
        result.errorCode = WSAGetLastError();
        return result;
    }
    result.ok = true;
    result.text.assign(text, strnlen(text, endpoint.family == AddressFamily::IPv4 ? 16 : 100));
    return result;
}

}  // namespace lystrel
