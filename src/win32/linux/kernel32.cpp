// Last-error codes and handles.
#include "layer.h"
#include "win32.h"

using namespace lystrel;

DWORD WINAPI GetLastError() { return layer::Error(); }

void WINAPI SetLastError(DWORD dwErrCode) { layer::SetError(dwErrCode); }

int WINAPI WSAGetLastError() { return static_cast<int>(layer::Error()); }

HANDLE WINAPI GetCurrentProcess() { return layer::CurrentProcessHandle(); }

BOOL WINAPI CloseHandle(HANDLE hObject) {
    // Closing the pseudo-handle of the current process succeeds and does nothing.
    if (hObject == layer::CurrentProcessHandle()) return TRUE;
    if (hObject == nullptr || !layer::ReleaseHandle(hObject)) {
        layer::SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
