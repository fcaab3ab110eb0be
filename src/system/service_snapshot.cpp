// The active Win32 services and the processes that host them, read once from
// the Service Control Manager.
#include <cstring>
#include <memory>
#include <new>

#include "win32.h"
#include "windows_queries.h"

namespace lystrel {
namespace {

// The NUL-terminated text at `text`, or empty when it does not lie wholly
// inside the buffer.
std::string TextInBuffer(const char* text, const uint8_t* buffer, size_t size) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(buffer);
    const uintptr_t at = reinterpret_cast<uintptr_t>(text);
    if (text == nullptr || at < begin || at >= begin + size) return std::string();
    const size_t room = begin + size - at;
    const size_t length = strnlen(text, room);
    if (length == room) return std::string();
    return std::string(text, length);
}

}  // namespace

ServiceSnapshot ConvertServiceBuffer(const uint8_t* buffer, size_t size, uint32_t count) {
    ServiceSnapshot snapshot;
    if (buffer == nullptr) return snapshot;
    const size_t fitting = size / sizeof(ENUM_SERVICE_STATUS_PROCESSA);
    const size_t entries = count < fitting ? count : fitting;
    snapshot.entries.reserve(entries);
    for (size_t index = 0; index < entries; ++index) {
        ENUM_SERVICE_STATUS_PROCESSA entry;
        std::memcpy(&entry, buffer + index * sizeof entry, sizeof entry);
        ServiceEntry service;
        service.serviceName = TextInBuffer(entry.lpServiceName, buffer, size);
        service.displayName = TextInBuffer(entry.lpDisplayName, buffer, size);
        service.processId = entry.ServiceStatusProcess.dwProcessId;
        snapshot.entries.push_back(std::move(service));
    }
    return snapshot;
}

std::optional<ServiceSnapshot> WindowsSystemQueries::TakeServiceSnapshot() {
    // The manager's handle stays open until the process ends.
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == nullptr) return std::nullopt;

    // The size call: with a one-byte buffer the manager must ask for more.
    uint8_t scratch[1] = {};
    DWORD bytesNeeded = 0;
    DWORD servicesReturned = 0;
    DWORD resumeHandle = 0;
    if (EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, scratch, 1,
                              &bytesNeeded, &servicesReturned, &resumeHandle, nullptr))
        return std::nullopt;
    if (GetLastError() != ERROR_MORE_DATA) return std::nullopt;

    // The fetch, into exactly the size asked for; the resume handle carries
    // over from the size call.
    const DWORD size = bytesNeeded;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!buffer) return std::nullopt;
    DWORD moreBytesNeeded = 0;
    if (EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, buffer.get(),
                              size, &moreBytesNeeded, &servicesReturned, &resumeHandle,
                              nullptr) != TRUE)
        return std::nullopt;
    return ConvertServiceBuffer(buffer.get(), size, servicesReturned);
}

}  // namespace lystrel
