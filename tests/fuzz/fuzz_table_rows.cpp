// Feeds arbitrary bytes to the conversion of fetched endpoint tables. The
// first byte picks the section; the rest is the table as the platform filled it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "windows_queries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const lystrel::PortSection& section = lystrel::kPortSections[data[0] % 4];
    // A private copy of exactly the table's size, so that any read past its
    // end is caught.
    std::vector<uint8_t> table(data + 1, data + size);
    std::vector<lystrel::ListeningEndpoint> endpoints;
    lystrel::ConvertEndpointRows(section, table.data(), table.size(), endpoints);
    for (const lystrel::ListeningEndpoint& endpoint : endpoints) {
        if (endpoint.family != section.family) __builtin_trap();
    }
    return 0;
}
