// The faked Win32 functions: each records its call, then answers from the
// script of its call index, or fails with an injected code.
#include "win32_fake.h"

#include <cstring>

namespace lystrel::fake {
namespace {

constexpr uint64_t kDay = 864000000000ULL;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDays = 134774;

Win32Fake& State() {
    static Win32Fake state;
    return state;
}

// Records the call and returns its index among the calls of that function.
size_t Enter(Function function) {
    Win32Fake& fake = State();
    const size_t index = fake.CallCount(function);
    fake.sequence.push_back(function);
    return index;
}

// The injected failure code of this call, if any.
bool Injected(Function function, size_t index, DWORD& code) {
    const auto& failures = State().failures;
    const auto found = failures.find({function, index});
    if (found == failures.end()) return false;
    code = found->second;
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// The proleptic Gregorian date of a count of days since 1970-01-01.
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME FileTimeFrom(uint64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

// Lays the services out as Windows does: the array, then each entry's texts.
void LayOutServices(const std::vector<FakeService>& services, uint8_t* buffer) {
    size_t textAt = services.size() * sizeof(ENUM_SERVICE_STATUS_PROCESSA);
    for (size_t index = 0; index < services.size(); ++index) {
        ENUM_SERVICE_STATUS_PROCESSA entry;
        std::memset(&entry, 0, sizeof entry);
        char* name = reinterpret_cast<char*>(buffer + textAt);
        std::memcpy(name, services[index].serviceName.c_str(), services[index].serviceName.size() + 1);
        textAt += services[index].serviceName.size() + 1;
        char* display = reinterpret_cast<char*>(buffer + textAt);
        std::memcpy(display, services[index].displayName.c_str(), services[index].displayName.size() + 1);
        textAt += services[index].displayName.size() + 1;
        entry.lpServiceName = name;
        entry.lpDisplayName = display;
        entry.ServiceStatusProcess.dwServiceType = SERVICE_WIN32_SHARE_PROCESS;
        entry.ServiceStatusProcess.dwCurrentState = SERVICE_RUNNING;
        entry.ServiceStatusProcess.dwProcessId = services[index].processId;
        std::memcpy(buffer + index * sizeof entry, &entry, sizeof entry);
    }
}

}  // namespace

const char* FunctionName(Function function) {
    switch (function) {
        case Function::GetLastError: return "GetLastError";
        case Function::SetLastError: return "SetLastError";
        case Function::WSAGetLastError: return "WSAGetLastError";
        case Function::GetCurrentProcess: return "GetCurrentProcess";
        case Function::CloseHandle: return "CloseHandle";
        case Function::OpenProcess: return "OpenProcess";
        case Function::QueryFullProcessImageNameA: return "QueryFullProcessImageNameA";
        case Function::OpenProcessToken: return "OpenProcessToken";
        case Function::LookupPrivilegeValueA: return "LookupPrivilegeValueA";
        case Function::AdjustTokenPrivileges: return "AdjustTokenPrivileges";
        case Function::FileTimeToLocalFileTime: return "FileTimeToLocalFileTime";
        case Function::FileTimeToSystemTime: return "FileTimeToSystemTime";
        case Function::WSAStartup: return "WSAStartup";
        case Function::WSAAddressToStringA: return "WSAAddressToStringA";
        case Function::ntohs: return "ntohs";
        case Function::GetExtendedTcpTable: return "GetExtendedTcpTable";
        case Function::GetExtendedUdpTable: return "GetExtendedUdpTable";
        case Function::OpenSCManagerA: return "OpenSCManagerA";
        case Function::EnumServicesStatusExA: return "EnumServicesStatusExA";
    }
    return "?";
}

uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second) {
    const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kEpochDays;
    const int64_t seconds = ((days * 24 + hour) * 60 + minute) * 60 + second;
    return static_cast<uint64_t>(seconds) * 10000000ULL;
}

DWORD ServiceBufferSize(const std::vector<FakeService>& services) {
    size_t size = services.size() * sizeof(ENUM_SERVICE_STATUS_PROCESSA);
    for (const FakeService& service : services)
        size += service.serviceName.size() + 1 + service.displayName.size() + 1;
    return static_cast<DWORD>(size);
}

size_t Win32Fake::CallCount(Function function) const {
    size_t count = 0;
    for (Function called : sequence)
        if (called == function) ++count;
    return count;
}

void Win32Fake::Fail(Function function, size_t index, DWORD code) { failures[{function, index}] = code; }

Win32Fake& Fake() { return State(); }

void Reset() { State() = Win32Fake(); }

}  // namespace lystrel::fake

using lystrel::fake::Enter;
using lystrel::fake::Function;
using lystrel::fake::Injected;
using lystrel::fake::State;

// ---------------------------------------------------------------------------
// Last errors.

DWORD WINAPI GetLastError() {
    Enter(Function::GetLastError);
    return State().lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    Enter(Function::SetLastError);
    State().setLastErrorCalls.push_back(dwErrCode);
    State().lastError = dwErrCode;
}

int WINAPI WSAGetLastError() {
    Enter(Function::WSAGetLastError);
    return State().wsaLastError;
}

// ---------------------------------------------------------------------------
// Handles and processes.

HANDLE WINAPI GetCurrentProcess() {
    Enter(Function::GetCurrentProcess);
    return lystrel::fake::CurrentProcessHandle();
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    const size_t index = Enter(Function::CloseHandle);
    State().closeHandleCalls.push_back({hObject});
    DWORD code = 0;
    if (Injected(Function::CloseHandle, index, code)) {
        State().lastError = code;
        return FALSE;
    }
    const auto& answer = State().closeHandle.For(index);
    if (!answer.result) State().lastError = answer.lastError;
    return answer.result;
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    const size_t index = Enter(Function::OpenProcess);
    State().openProcessCalls.push_back({dwDesiredAccess, bInheritHandle, dwProcessId});
    DWORD code = 0;
    if (Injected(Function::OpenProcess, index, code)) {
        State().lastError = code;
        return nullptr;
    }
    const auto& answer = State().openProcess.For(index);
    if (answer.handle == nullptr) State().lastError = answer.lastError;
    return answer.handle;
}

BOOL WINAPI QueryFullProcessImageNameA(HANDLE hProcess, DWORD dwFlags, LPSTR lpExeName,
                                       PDWORD lpdwSize) {
    const size_t index = Enter(Function::QueryFullProcessImageNameA);
    State().queryImageNameCalls.push_back(
        {hProcess, dwFlags, lpExeName == nullptr, lpdwSize == nullptr, lpdwSize ? *lpdwSize : 0});
    DWORD code = 0;
    if (Injected(Function::QueryFullProcessImageNameA, index, code)) {
        State().lastError = code;
        return FALSE;
    }
    const auto& answer = State().queryImageName.For(index);
    if (!answer.result) {
        State().lastError = answer.lastError;
        return answer.result;
    }
    if (lpExeName == nullptr || lpdwSize == nullptr) {
        State().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (answer.path.size() + 1 > *lpdwSize) {
        State().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(lpExeName, answer.path.c_str(), answer.path.size() + 1);
    *lpdwSize = static_cast<DWORD>(answer.path.size());
    return answer.result;
}

// ---------------------------------------------------------------------------
// Tokens and privileges.

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    const size_t index = Enter(Function::OpenProcessToken);
    State().openProcessTokenCalls.push_back({ProcessHandle, DesiredAccess, TokenHandle == nullptr});
    DWORD code = 0;
    if (Injected(Function::OpenProcessToken, index, code)) {
        State().lastError = code;
        return FALSE;
    }
    const auto& answer = State().openProcessToken.For(index);
    if (!answer.result) {
        State().lastError = answer.lastError;
        return answer.result;
    }
    if (TokenHandle != nullptr) *TokenHandle = answer.token;
    return answer.result;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    const size_t index = Enter(Function::LookupPrivilegeValueA);
    State().lookupPrivilegeCalls.push_back({lpSystemName == nullptr, lpSystemName ? lpSystemName : "",
                                            lpName == nullptr, lpName ? lpName : "", lpLuid == nullptr});
    DWORD code = 0;
    if (Injected(Function::LookupPrivilegeValueA, index, code)) {
        State().lastError = code;
        return FALSE;
    }
    const auto& answer = State().lookupPrivilege.For(index);
    if (!answer.result) {
        State().lastError = answer.lastError;
        return answer.result;
    }
    if (lpLuid != nullptr) *lpLuid = answer.luid;
    return answer.result;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                  PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                  PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
    const size_t index = Enter(Function::AdjustTokenPrivileges);
    lystrel::fake::AdjustPrivilegesCall call;
    std::memset(&call, 0, sizeof call);
    call.token = TokenHandle;
    call.disableAll = DisableAllPrivileges;
    call.newStateNull = NewState == nullptr;
    if (NewState != nullptr) std::memcpy(&call.newState, NewState, sizeof call.newState);
    call.bufferLength = BufferLength;
    call.previousStateNull = PreviousState == nullptr;
    call.returnLengthNull = ReturnLength == nullptr;
    State().adjustPrivilegesCalls.push_back(call);
    DWORD code = 0;
    if (Injected(Function::AdjustTokenPrivileges, index, code)) {
        State().lastError = code;
        return FALSE;
    }
    // Windows sets the last error on success too (0, or 1300 when not all
    // privileges were assigned).
    const auto& answer = State().adjustPrivileges.For(index);
    State().lastError = answer.lastError;
    return answer.result;
}

// ---------------------------------------------------------------------------
// Time.

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    const size_t index = Enter(Function::FileTimeToLocalFileTime);
    const uint64_t input = lpFileTime ? lystrel::fake::FileTimeValue(*lpFileTime) : 0;
    State().localFileTimeCalls.push_back({input, lpFileTime == nullptr, lpLocalFileTime == nullptr});
    DWORD code = 0;
    if (Injected(Function::FileTimeToLocalFileTime, index, code)) {
        State().lastError = code;
        return FALSE;
    }
    const auto& answer = State().localFileTime.For(index);
    if (!answer.result || lpFileTime == nullptr || lpLocalFileTime == nullptr) {
        State().lastError = answer.result ? ERROR_INVALID_PARAMETER : answer.lastError;
        return FALSE;
    }
    *lpLocalFileTime = lystrel::fake::FileTimeFrom(input + static_cast<uint64_t>(answer.offset));
    return answer.result;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    const size_t index = Enter(Function::FileTimeToSystemTime);
    const uint64_t input = lpFileTime ? lystrel::fake::FileTimeValue(*lpFileTime) : 0;
    State().systemTimeCalls.push_back({input, lpFileTime == nullptr, lpSystemTime == nullptr});
    DWORD code = 0;
    if (Injected(Function::FileTimeToSystemTime, index, code)) {
        State().lastError = code;
        return FALSE;
    }
    const auto& answer = State().systemTime.For(index);
    if (!answer.result) {
        State().lastError = answer.lastError;
        return answer.result;
    }
    if (lpFileTime == nullptr || lpSystemTime == nullptr || input >= 0x8000000000000000ULL) {
        State().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const uint64_t days = input / lystrel::fake::kDay;
    const uint64_t rest = input % lystrel::fake::kDay;
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    lystrel::fake::CivilFromDays(static_cast<int64_t>(days) - lystrel::fake::kEpochDays, year, month, day);
    SYSTEMTIME fields;
    fields.wYear = static_cast<WORD>(year);
    fields.wMonth = static_cast<WORD>(month);
    // 1601-01-01 was a Monday; Sunday is 0.
    fields.wDayOfWeek = static_cast<WORD>((days + 1) % 7);
    fields.wDay = static_cast<WORD>(day);
    fields.wHour = static_cast<WORD>(rest / 36000000000ULL);
    fields.wMinute = static_cast<WORD>(rest / 600000000ULL % 60);
    fields.wSecond = static_cast<WORD>(rest / 10000000ULL % 60);
    fields.wMilliseconds = static_cast<WORD>(rest / 10000ULL % 1000);
    *lpSystemTime = fields;
    return answer.result;
}

// ---------------------------------------------------------------------------
// Windows Sockets.

int WINAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    const size_t index = Enter(Function::WSAStartup);
    State().wsaStartupCalls.push_back({wVersionRequested, lpWSAData == nullptr});
    DWORD code = 0;
    if (Injected(Function::WSAStartup, index, code)) return static_cast<int>(code);
    const auto& answer = State().wsaStartup.For(index);
    if (answer.result == 0 && lpWSAData != nullptr) {
        std::memset(lpWSAData, 0, sizeof *lpWSAData);
        lpWSAData->wVersion = 0x0202;
        lpWSAData->wHighVersion = 0x0202;
    }
    return answer.result;
}

INT WINAPI WSAAddressToStringA(LPSOCKADDR lpsaAddress, DWORD dwAddressLength,
                               LPWSAPROTOCOL_INFOA lpProtocolInfo, LPSTR lpszAddressString,
                               LPDWORD lpdwAddressStringLength) {
    const size_t index = Enter(Function::WSAAddressToStringA);
    lystrel::fake::AddressToStringCall call;
    call.addressNull = lpsaAddress == nullptr;
    call.family = 0;
    if (lpsaAddress != nullptr) {
        const size_t copied = dwAddressLength < 28 ? dwAddressLength : 28;
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(lpsaAddress);
        call.address.assign(bytes, bytes + copied);
        if (copied >= 2) std::memcpy(&call.family, bytes, 2);
    }
    call.addressLength = dwAddressLength;
    call.protocolInfoNull = lpProtocolInfo == nullptr;
    call.bufferNull = lpszAddressString == nullptr;
    call.lengthNull = lpdwAddressStringLength == nullptr;
    call.lengthOnEntry = lpdwAddressStringLength ? *lpdwAddressStringLength : 0;
    State().addressToStringCalls.push_back(call);
    DWORD code = 0;
    if (Injected(Function::WSAAddressToStringA, index, code)) {
        State().wsaLastError = static_cast<int>(code);
        return SOCKET_ERROR;
    }
    const auto& answer = State().addressToString.For(index);
    if (answer.result != 0) {
        State().wsaLastError = answer.wsaError;
        return answer.result;
    }
    if (lpszAddressString == nullptr || lpdwAddressStringLength == nullptr) {
        State().wsaLastError = WSAEINVAL;
        return SOCKET_ERROR;
    }
    // The length counts the NUL; too small a buffer is left untouched.
    const DWORD need = static_cast<DWORD>(answer.text.size() + 1);
    if (need > *lpdwAddressStringLength) {
        *lpdwAddressStringLength = need;
        State().wsaLastError = WSAEFAULT;
        return SOCKET_ERROR;
    }
    std::memcpy(lpszAddressString, answer.text.c_str(), need);
    *lpdwAddressStringLength = need;
    return 0;
}

u_short WINAPI ntohs(u_short netshort) {
    Enter(Function::ntohs);
    State().ntohsCalls.push_back(netshort);
    // The value's first byte in memory is the most significant one.
    uint8_t bytes[2];
    std::memcpy(bytes, &netshort, 2);
    return static_cast<u_short>(bytes[0] << 8 | bytes[1]);
}

// ---------------------------------------------------------------------------
// IP Helper tables.

namespace {

DWORD AnswerTableCall(Function function, lystrel::fake::Script<lystrel::fake::TableAnswer>& script,
                      std::vector<lystrel::fake::TableCall>& calls, PVOID buffer, PDWORD size,
                      BOOL order, ULONG family, uint32_t tableClass, ULONG reserved) {
    const size_t index = Enter(function);
    calls.push_back({function, buffer, size == nullptr, size ? *size : 0, order, family, tableClass, reserved});
    DWORD code = 0;
    if (Injected(function, index, code)) return code;
    const auto& answer = script.For(index);
    if (buffer != nullptr && size != nullptr) {
        const size_t copied = answer.table.size() < *size ? answer.table.size() : *size;
        if (copied > 0) std::memcpy(buffer, answer.table.data(), copied);
    }
    if (answer.writesSize && size != nullptr) *size = answer.size;
    return answer.status;
}

}  // namespace

DWORD WINAPI GetExtendedTcpTable(PVOID pTcpTable, PDWORD pdwSize, BOOL bOrder, ULONG ulAf,
                                 TCP_TABLE_CLASS TableClass, ULONG Reserved) {
    return AnswerTableCall(Function::GetExtendedTcpTable, State().tcpTable, State().tcpTableCalls, pTcpTable,
                           pdwSize, bOrder, ulAf, static_cast<uint32_t>(TableClass), Reserved);
}

DWORD WINAPI GetExtendedUdpTable(PVOID pUdpTable, PDWORD pdwSize, BOOL bOrder, ULONG ulAf,
                                 UDP_TABLE_CLASS TableClass, ULONG Reserved) {
    return AnswerTableCall(Function::GetExtendedUdpTable, State().udpTable, State().udpTableCalls, pUdpTable,
                           pdwSize, bOrder, ulAf, static_cast<uint32_t>(TableClass), Reserved);
}

// ---------------------------------------------------------------------------
// Service Control Manager.

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
    const size_t index = Enter(Function::OpenSCManagerA);
    State().openManagerCalls.push_back({lpMachineName == nullptr, lpDatabaseName == nullptr, dwDesiredAccess});
    DWORD code = 0;
    if (Injected(Function::OpenSCManagerA, index, code)) {
        State().lastError = code;
        return nullptr;
    }
    const auto& answer = State().openManager.For(index);
    if (answer.handle == nullptr) State().lastError = answer.lastError;
    return answer.handle;
}

BOOL WINAPI EnumServicesStatusExA(SC_HANDLE hSCManager, SC_ENUM_TYPE InfoLevel, DWORD dwServiceType,
                                  DWORD dwServiceState, LPBYTE lpServices, DWORD cbBufSize,
                                  LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned,
                                  LPDWORD lpResumeHandle, LPCSTR pszGroupName) {
    const size_t index = Enter(Function::EnumServicesStatusExA);
    State().enumServicesCalls.push_back({hSCManager, static_cast<int>(InfoLevel), dwServiceType, dwServiceState,
                                         lpServices, cbBufSize, pcbBytesNeeded == nullptr,
                                         lpServicesReturned == nullptr, lpResumeHandle == nullptr,
                                         lpResumeHandle ? *lpResumeHandle : 0, pszGroupName});
    DWORD code = 0;
    if (Injected(Function::EnumServicesStatusExA, index, code)) {
        State().lastError = code;
        return FALSE;
    }
    const auto& answer = State().enumServices.For(index);
    if (answer.writesBytesNeeded && pcbBytesNeeded != nullptr) *pcbBytesNeeded = answer.bytesNeeded;
    if (answer.writesServicesReturned && lpServicesReturned != nullptr)
        *lpServicesReturned = answer.servicesReturned;
    if (answer.writesResumeHandle && lpResumeHandle != nullptr) *lpResumeHandle = answer.resumeHandle;
    if (lpServices != nullptr) {
        if (answer.fill)
            answer.fill(lpServices, cbBufSize);
        else if (!answer.services.empty() && lystrel::fake::ServiceBufferSize(answer.services) <= cbBufSize)
            lystrel::fake::LayOutServices(answer.services, lpServices);
    }
    if (!answer.result) State().lastError = answer.lastError;
    return answer.result;
}
