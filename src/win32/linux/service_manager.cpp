// The Service Control Manager over systemd: OpenSCManagerA and
// EnumServicesStatusExA list the processes of running service units.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "layer.h"
#include "service_scan.h"
#include "win32.h"

using namespace lystrel;

namespace {

// Codes of this file that the shared declarations do not name.
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorDatabaseDoesNotExist = 1065;
constexpr DWORD kRpcServerUnavailable = 1722;

// The service types and states a caller may ask for.
constexpr DWORD kKnownServiceTypes = 0x1FF;

// The manager behind an SC_HANDLE. An enumeration's first call scans /proc
// and keeps the result until a call returns the last entry, so that the size
// call and the fetch (and every resumed call) see the same services even
// while processes come and go.
struct ServiceManager : layer::HandleObject {
    DWORD access = 0;
    bool enumerating = false;
    std::vector<layer::ServiceProcess> services;
};

bool IsLocalName(LPCSTR name) { return name == nullptr || name[0] == '\0'; }

bool IsActiveDatabase(LPCSTR name) {
    return name == nullptr || std::strcmp(name, "ServicesActive") == 0;
}

// The bytes one entry takes: its record and its two NUL-terminated texts.
size_t EntrySize(const layer::ServiceProcess& service) {
    return sizeof(ENUM_SERVICE_STATUS_PROCESSA) + service.serviceName.size() + 1 +
           service.displayName.size() + 1;
}

// Writes entries [first, first + count) into the buffer: the array first,
// then the texts, with pointers into the buffer.
void WriteEntries(const std::vector<layer::ServiceProcess>& services, size_t first, size_t count,
                  LPBYTE buffer) {
    char* text = reinterpret_cast<char*>(buffer + count * sizeof(ENUM_SERVICE_STATUS_PROCESSA));
    for (size_t index = 0; index < count; ++index) {
        const layer::ServiceProcess& service = services[first + index];
        ENUM_SERVICE_STATUS_PROCESSA entry;
        std::memset(&entry, 0, sizeof entry);
        entry.lpServiceName = text;
        std::memcpy(text, service.serviceName.c_str(), service.serviceName.size() + 1);
        text += service.serviceName.size() + 1;
        entry.lpDisplayName = text;
        std::memcpy(text, service.displayName.c_str(), service.displayName.size() + 1);
        text += service.displayName.size() + 1;
        entry.ServiceStatusProcess.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        entry.ServiceStatusProcess.dwCurrentState = SERVICE_RUNNING;
        entry.ServiceStatusProcess.dwProcessId = service.pid;
        std::memcpy(buffer + index * sizeof entry, &entry, sizeof entry);
    }
}

}  // namespace

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
    // Only this machine's manager is reachable.
    if (!IsLocalName(lpMachineName)) {
        layer::SetError(kRpcServerUnavailable);
        return nullptr;
    }
    if (!IsActiveDatabase(lpDatabaseName)) {
        layer::SetError(std::strcmp(lpDatabaseName, "ServicesFailed") == 0 ? kErrorDatabaseDoesNotExist
                                                                           : kErrorInvalidName);
        return nullptr;
    }
    auto manager = std::make_unique<ServiceManager>();
    manager->access = dwDesiredAccess;
    void* handle = layer::RegisterHandle(std::move(manager));
    layer::SetError(ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI EnumServicesStatusExA(SC_HANDLE hSCManager, SC_ENUM_TYPE InfoLevel, DWORD dwServiceType,
                                  DWORD dwServiceState, LPBYTE lpServices, DWORD cbBufSize,
                                  LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned,
                                  LPDWORD lpResumeHandle, LPCSTR pszGroupName) {
    auto* manager = hSCManager == nullptr
                        ? nullptr
                        : dynamic_cast<ServiceManager*>(layer::LookupHandle(hSCManager));
    if (manager == nullptr) {
        layer::SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (InfoLevel != SC_ENUM_PROCESS_INFO) {
        layer::SetError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if ((manager->access & SC_MANAGER_ENUMERATE_SERVICE) == 0) {
        layer::SetError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (pcbBytesNeeded == nullptr || lpServicesReturned == nullptr || dwServiceType == 0 ||
        (dwServiceType & ~kKnownServiceTypes) != 0 || dwServiceState == 0 ||
        (dwServiceState & ~SERVICE_STATE_ALL) != 0 || (lpServices == nullptr && cbBufSize != 0)) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    if (!manager->enumerating) {
        manager->services = layer::ScanServiceProcesses();
        manager->enumerating = true;
    }
    const std::vector<layer::ServiceProcess>& all = manager->services;

    // Every listed service is a running Win32 service in no load-order group:
    // asking for drivers only, for stopped services only or for a named group
    // lists none.
    const bool listed = (dwServiceType & SERVICE_WIN32) != 0 && (dwServiceState & SERVICE_ACTIVE) != 0 &&
                        (pszGroupName == nullptr || pszGroupName[0] == '\0');
    const size_t total = listed ? all.size() : 0;

    // The resume handle is the index of the next entry of the enumeration.
    size_t first = lpResumeHandle == nullptr ? 0 : *lpResumeHandle;
    if (first > total) first = total;

    size_t used = 0;
    size_t count = 0;
    while (first + count < total && used + EntrySize(all[first + count]) <= cbBufSize) {
        used += EntrySize(all[first + count]);
        ++count;
    }
    if (count > 0) WriteEntries(all, first, count, lpServices);
    *lpServicesReturned = static_cast<DWORD>(count);

    if (first + count < total) {
        size_t rest = 0;
        for (size_t index = first + count; index < total; ++index) rest += EntrySize(all[index]);
        *pcbBytesNeeded = static_cast<DWORD>(rest);
        if (lpResumeHandle != nullptr) *lpResumeHandle = static_cast<DWORD>(first + count);
        layer::SetError(ERROR_MORE_DATA);
        return FALSE;
    }

    // The enumeration is complete: the next one scans afresh.
    *pcbBytesNeeded = 0;
    if (lpResumeHandle != nullptr) *lpResumeHandle = 0;
    manager->enumerating = false;
    manager->services.clear();
    manager->services.shrink_to_fit();
    layer::SetError(ERROR_SUCCESS);
    return TRUE;
}
