// Placeholder until services and tokens are implemented.
#include "layer.h"
#include "win32.h"
SC_HANDLE WINAPI OpenSCManagerA(LPCSTR, LPCSTR, DWORD) { return nullptr; }
BOOL WINAPI EnumServicesStatusExA(SC_HANDLE, SC_ENUM_TYPE, DWORD, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD, LPDWORD, LPCSTR) { return FALSE; }
BOOL WINAPI OpenProcessToken(HANDLE, DWORD, PHANDLE) { return FALSE; }
BOOL WINAPI LookupPrivilegeValueA(LPCSTR, LPCSTR, PLUID) { return FALSE; }
BOOL WINAPI AdjustTokenPrivileges(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) { return FALSE; }
