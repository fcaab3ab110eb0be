// A scripted stand-in for the Win32 functions that src/system calls. It is
// linked in place of the Linux layer: every call is recorded with its
// arguments, and each call's result (return value, last error and output
// values) comes from a script that a test sets per call index, so that a
// probe and the fetch after it can be answered differently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "win32.h"

namespace lystrel::fake {

/// The faked functions, in the order they are declared.
enum class Function {
    GetLastError,
    SetLastError,
    WSAGetLastError,
    GetCurrentProcess,
    CloseHandle,
    OpenProcess,
    QueryFullProcessImageNameA,
    OpenProcessToken,
    LookupPrivilegeValueA,
    AdjustTokenPrivileges,
    FileTimeToLocalFileTime,
    FileTimeToSystemTime,
    WSAStartup,
    WSAAddressToStringA,
    ntohs,
    GetExtendedTcpTable,
    GetExtendedUdpTable,
    OpenSCManagerA,
    EnumServicesStatusExA,
};

/// The function's name as the platform spells it.
const char* FunctionName(Function function);

/// The answers for one function: one per call index (0 is the first call
/// after a reset), and a fallback for every call without its own.
template <typename Answer>
struct Script {
    std::map<size_t, Answer> byIndex;
    Answer fallback;

    /// The answer for the call with this index, created from the fallback.
    Answer& At(size_t index) {
        auto found = byIndex.find(index);
        if (found == byIndex.end()) found = byIndex.emplace(index, fallback).first;
        return found->second;
    }
    const Answer& For(size_t index) const {
        auto found = byIndex.find(index);
        return found == byIndex.end() ? fallback : found->second;
    }
};

/// The pseudo-handle GetCurrentProcess returns.
inline HANDLE CurrentProcessHandle() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

/// A distinct non-null handle value for scripts.
inline HANDLE FakeHandle(uintptr_t value) { return reinterpret_cast<HANDLE>(value); }

// ---------------------------------------------------------------------------
// Handles and processes.

struct CloseHandleCall {
    HANDLE handle;
};
struct CloseHandleAnswer {
    BOOL result = TRUE;
    DWORD lastError = 0;
};

struct OpenProcessCall {
    DWORD access;
    BOOL inheritHandle;
    DWORD pid;
};
struct OpenProcessAnswer {
    /// Null fails the call with lastError.
    HANDLE handle = FakeHandle(0x1F00);
    DWORD lastError = ERROR_INVALID_PARAMETER;
};

struct QueryImageNameCall {
    HANDLE process;
    DWORD flags;
    bool bufferNull;
    bool sizeNull;
    DWORD sizeOnEntry;
};
struct QueryImageNameAnswer {
    BOOL result = TRUE;
    DWORD lastError = 0;
    /// On success written with its NUL when it fits in the size on entry
    /// (else the call fails with 122); the size variable becomes its length.
    std::string path = "C:\\Windows\\System32\\svchost.exe";
};

// ---------------------------------------------------------------------------
// Tokens and privileges.

struct OpenProcessTokenCall {
    HANDLE process;
    DWORD access;
    bool tokenNull;
};
struct OpenProcessTokenAnswer {
    BOOL result = TRUE;
    DWORD lastError = 0;
    HANDLE token = FakeHandle(0x70C);
};

struct LookupPrivilegeCall {
    bool systemNameNull;
    std::string systemName;
    bool nameNull;
    std::string name;
    bool luidNull;
};
struct LookupPrivilegeAnswer {
    BOOL result = TRUE;
    DWORD lastError = 0;
    LUID luid = {20, 0};
};

struct AdjustPrivilegesCall {
    HANDLE token;
    BOOL disableAll;
    bool newStateNull;
    /// A copy of the first entry's worth of the new state.
    TOKEN_PRIVILEGES newState;
    DWORD bufferLength;
    bool previousStateNull;
    bool returnLengthNull;
};
struct AdjustPrivilegesAnswer {
    BOOL result = TRUE;
    DWORD lastError = 0;
};

// ---------------------------------------------------------------------------
// Time.

struct FileTimeCall {
    uint64_t input;
    bool inputNull;
    bool outputNull;
};
struct LocalFileTimeAnswer {
    BOOL result = TRUE;
    DWORD lastError = ERROR_INVALID_PARAMETER;
    /// Added to the input, as the time-zone offset in force now.
    int64_t offset = 0;
};
struct SystemTimeAnswer {
    /// TRUE converts like Windows: inputs at or above 2^63 fail with 87.
    BOOL result = TRUE;
    DWORD lastError = ERROR_INVALID_PARAMETER;
};

/// 100-nanosecond intervals in an hour.
constexpr int64_t kHour = 36000000000LL;

/// The file time of a UTC calendar moment (proleptic Gregorian).
uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second = 0);

// ---------------------------------------------------------------------------
// Windows Sockets.

struct WSAStartupCall {
    WORD version;
    bool dataNull;
};
struct WSAStartupAnswer {
    int result = 0;
};

struct AddressToStringCall {
    /// The address bytes as passed (at most 28), and the family read from them.
    std::vector<uint8_t> address;
    bool addressNull;
    USHORT family;
    DWORD addressLength;
    bool protocolInfoNull;
    bool bufferNull;
    bool lengthNull;
    DWORD lengthOnEntry;
};
struct AddressToStringAnswer {
    /// 0 succeeds; SOCKET_ERROR fails with wsaError as the last error.
    INT result = 0;
    int wsaError = WSAEINVAL;
    /// Written with its NUL on success; the length becomes its size with the NUL.
    std::string text = "0.0.0.0";
};

// ---------------------------------------------------------------------------
// IP Helper tables.

struct TableCall {
    Function function;
    const void* buffer;
    bool sizeNull;
    DWORD sizeOnEntry;
    BOOL bOrder;
    ULONG family;
    uint32_t tableClass;
    ULONG reserved;
};
struct TableAnswer {
    DWORD status = ERROR_INVALID_PARAMETER;
    /// Stored in the size variable when set.
    bool writesSize = false;
    DWORD size = 0;
    /// Copied to the buffer, at most the size on entry, whatever the status.
    std::vector<uint8_t> table;
};

// ---------------------------------------------------------------------------
// Service Control Manager.

struct OpenManagerCall {
    bool machineNull;
    bool databaseNull;
    DWORD access;
};
struct OpenManagerAnswer {
    SC_HANDLE handle = FakeHandle(0x5C0);
    DWORD lastError = ERROR_ACCESS_DENIED;
};

/// One service as a script lists it.
struct FakeService {
    std::string serviceName;
    std::string displayName;
    DWORD processId;
};

struct EnumServicesCall {
    SC_HANDLE manager;
    int level;
    DWORD serviceType;
    DWORD serviceState;
    const void* buffer;
    DWORD bufferSize;
    bool bytesNeededNull;
    bool servicesReturnedNull;
    bool resumeHandleNull;
    DWORD resumeHandleOnEntry;
    /// The group name pointer exactly as passed.
    LPCSTR groupName;
};
struct EnumServicesAnswer {
    BOOL result = FALSE;
    DWORD lastError = ERROR_MORE_DATA;
    /// Each stored in its variable when set.
    bool writesBytesNeeded = false;
    DWORD bytesNeeded = 0;
    bool writesServicesReturned = false;
    DWORD servicesReturned = 0;
    bool writesResumeHandle = false;
    DWORD resumeHandle = 0;
    /// Laid out in the buffer as Windows does (the array, then the texts,
    /// with absolute pointers) when all of them fit in the buffer size.
    std::vector<FakeService> services;
    /// When set, fills the buffer instead of the layout above.
    std::function<void(uint8_t* buffer, DWORD size)> fill;
};

/// The bytes that `services` take when laid out in a buffer.
DWORD ServiceBufferSize(const std::vector<FakeService>& services);

// ---------------------------------------------------------------------------

/// Every script and every record. Reset() gives the defaults above.
struct Win32Fake {
    /// Every call in order.
    std::vector<Function> sequence;

    std::vector<DWORD> setLastErrorCalls;
    std::vector<CloseHandleCall> closeHandleCalls;
    std::vector<OpenProcessCall> openProcessCalls;
    std::vector<QueryImageNameCall> queryImageNameCalls;
    std::vector<OpenProcessTokenCall> openProcessTokenCalls;
    std::vector<LookupPrivilegeCall> lookupPrivilegeCalls;
    std::vector<AdjustPrivilegesCall> adjustPrivilegesCalls;
    std::vector<FileTimeCall> localFileTimeCalls;
    std::vector<FileTimeCall> systemTimeCalls;
    std::vector<WSAStartupCall> wsaStartupCalls;
    std::vector<AddressToStringCall> addressToStringCalls;
    std::vector<u_short> ntohsCalls;
    std::vector<TableCall> tcpTableCalls;
    std::vector<TableCall> udpTableCalls;
    std::vector<OpenManagerCall> openManagerCalls;
    std::vector<EnumServicesCall> enumServicesCalls;

    Script<CloseHandleAnswer> closeHandle;
    Script<OpenProcessAnswer> openProcess;
    Script<QueryImageNameAnswer> queryImageName;
    Script<OpenProcessTokenAnswer> openProcessToken;
    Script<LookupPrivilegeAnswer> lookupPrivilege;
    Script<AdjustPrivilegesAnswer> adjustPrivileges;
    Script<LocalFileTimeAnswer> localFileTime;
    Script<SystemTimeAnswer> systemTime;
    Script<WSAStartupAnswer> wsaStartup;
    Script<AddressToStringAnswer> addressToString;
    Script<TableAnswer> tcpTable;
    Script<TableAnswer> udpTable;
    Script<OpenManagerAnswer> openManager;
    Script<EnumServicesAnswer> enumServices;

    /// Failures injected with Fail(), by function and call index.
    std::map<std::pair<Function, size_t>, DWORD> failures;

    DWORD lastError = 0;
    int wsaLastError = 0;

    /// How many times the function has been called since the reset.
    size_t CallCount(Function function) const;

    /// Makes the call with this index fail with `code`, whatever its script
    /// says: a handle function returns null, a BOOL function FALSE, both with
    /// `code` as the last error; a table function and WSAStartup return
    /// `code`; WSAAddressToStringA returns SOCKET_ERROR with `code` as the
    /// socket layer's last error. Functions that cannot fail ignore it.
    void Fail(Function function, size_t index, DWORD code);
};

/// The fake's state, shared by all the faked functions.
Win32Fake& Fake();

/// Forgets every call and restores every default answer.
void Reset();

}  // namespace lystrel::fake
