// The report's system queries over the Win32 API.
#pragma once

#include <cstddef>
#include <cstdint>

#include "report.h"

namespace lystrel {

class WindowsSystemQueries : public SystemQueries {
public:
    void EnableDebugPrivilege() override;
    int32_t StartSocketLayer() override;
    std::optional<ServiceSnapshot> TakeServiceSnapshot() override;
    EndpointTable ReadEndpointTable(const PortSection& section) override;
    AddressText FormatEndpointAddress(const ListeningEndpoint& endpoint) override;
    std::optional<std::string> QueryProcessImagePath(uint32_t pid) override;
    LocalCalendarTime ToLocalCalendarTime(uint64_t creationTime) override;
};

/// Turns a fetched owner-module table of the section's kind into endpoints.
/// Only rows that lie wholly inside the `size` bytes are read, whatever the
/// table's entry count claims.
void ConvertEndpointRows(const PortSection& section, const uint8_t* table, size_t size,
                         std::vector<ListeningEndpoint>& endpoints);

/// Turns a filled service enumeration buffer into a snapshot. Entries beyond
/// the buffer are dropped; a name that does not lie, NUL-terminated, inside
/// the buffer reads as empty.
ServiceSnapshot ConvertServiceBuffer(const uint8_t* buffer, size_t size, uint32_t count);

}  // namespace lystrel
