// The debug privilege, the image path of a process and the local time of an
// endpoint's creation.
#include <cstring>

#include "win32.h"
#include "windows_queries.h"

namespace lystrel {

void WindowsSystemQueries::EnableDebugPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
    TOKEN_PRIVILEGES privileges;
    std::memset(&privileges, 0, sizeof privileges);
    if (LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // A caller who does not hold the privilege simply runs without it.
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

std::optional<std::string> WindowsSystemQueries::QueryProcessImagePath(uint32_t pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == nullptr) return std::nullopt;
    char path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    const BOOL found = QueryFullProcessImageNameA(process, 0, path, &length);
    // The handle is closed at once, so a long report holds none open.
    CloseHandle(process);
    if (!found) return std::nullopt;
    return std::string(path, strnlen(path, MAX_PATH));
}

LocalCalendarTime WindowsSystemQueries::ToLocalCalendarTime(uint64_t creationTime) {
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(creationTime & 0xFFFFFFFFu);
    utc.dwHighDateTime = static_cast<DWORD>(creationTime >> 32);
    FILETIME local;
    SYSTEMTIME fields;
    std::memset(&local, 0, sizeof local);
    std::memset(&fields, 0, sizeof fields);
    // A time the platform cannot express gives the all-zero calendar time.
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields))
        return LocalCalendarTime{};
    LocalCalendarTime time;
    time.year = fields.wYear;
    time.month = fields.wMonth;
    time.day = fields.wDay;
    time.hour = fields.wHour;
    time.minute = fields.wMinute;
    return time;
}

}  // namespace lystrel
