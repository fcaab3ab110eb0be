// Placeholder until the socket tables are implemented.
#include "layer.h"
#include "win32.h"
DWORD WINAPI GetExtendedTcpTable(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG) { return ERROR_INVALID_PARAMETER; }
DWORD WINAPI GetExtendedUdpTable(PVOID, PDWORD, BOOL, ULONG, UDP_TABLE_CLASS, ULONG) { return ERROR_INVALID_PARAMETER; }
int WINAPI WSAStartup(WORD, LPWSADATA) { return 0; }
INT WINAPI WSAAddressToStringA(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOA, LPSTR, LPDWORD) { return SOCKET_ERROR; }
u_short WINAPI ntohs(u_short v) { return static_cast<u_short>((v >> 8) | (v << 8)); }
HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD) { return nullptr; }
BOOL WINAPI QueryFullProcessImageNameA(HANDLE, DWORD, LPSTR, PDWORD) { return FALSE; }
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME*, LPFILETIME) { return FALSE; }
BOOL WINAPI FileTimeToSystemTime(const FILETIME*, LPSYSTEMTIME) { return FALSE; }
