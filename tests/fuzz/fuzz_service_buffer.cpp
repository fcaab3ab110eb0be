// Feeds arbitrary service enumeration buffers to the snapshot conversion. The
// first four bytes give the services-returned count. Each entry's two text
// pointers are taken from the input as offsets and turned into addresses in
// and around the buffer, so that texts inside, at the edge of and beyond the
// buffer are all tried.
#include <cstdint>
#include <cstring>
#include <vector>

#include "win32.h"
#include "windows_queries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t count = 0;
    std::memcpy(&count, data, 4);
    std::vector<uint8_t> buffer(data + 4, data + size);
    const size_t entries = buffer.size() / sizeof(ENUM_SERVICE_STATUS_PROCESSA);
    for (size_t index = 0; index < entries; ++index) {
        ENUM_SERVICE_STATUS_PROCESSA entry;
        std::memcpy(&entry, buffer.data() + index * sizeof entry, sizeof entry);
        const uintptr_t span = buffer.size() + 64;
        entry.lpServiceName = reinterpret_cast<LPSTR>(
            reinterpret_cast<uintptr_t>(buffer.data()) + reinterpret_cast<uintptr_t>(entry.lpServiceName) % span);
        entry.lpDisplayName = reinterpret_cast<LPSTR>(
            reinterpret_cast<uintptr_t>(buffer.data()) + reinterpret_cast<uintptr_t>(entry.lpDisplayName) % span);
        std::memcpy(buffer.data() + index * sizeof entry, &entry, sizeof entry);
    }
    lystrel::ServiceSnapshot snapshot = lystrel::ConvertServiceBuffer(buffer.data(), buffer.size(), count);
    if (snapshot.entries.size() > entries) __builtin_trap();
    return 0;
}
