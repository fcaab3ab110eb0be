// Shared pieces of the Win32 layer for Linux. This header includes no Win32
// declarations and no host socket headers, so both sides may use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lystrel::layer {

/// The directory under which the layer reads /proc, /sys and the unit
/// directories. "/" for the program; tests point it at fixture trees.
void SetRoot(std::string root);
const std::string& Root();
/// The host path of an absolute path such as "/proc/1/stat" under the root.
std::string HostPath(std::string_view absolute);

/// The thread's last error, shared by GetLastError and WSAGetLastError.
void SetError(uint32_t code);
uint32_t Error();

/// Text from Linux may hold any byte but NUL. Control bytes (below 0x20, and
/// 0x7f) become \xHH and a backslash becomes \\, so that no name can break a
/// report line or drive a terminal.
std::string EscapeControlBytes(std::string_view text);

/// An object behind a HANDLE handed out by the layer.
struct HandleObject {
    virtual ~HandleObject() = default;
};

/// Keeps the object alive until ReleaseHandle; the result is the HANDLE.
void* RegisterHandle(std::unique_ptr<HandleObject> object);
/// The object behind a live handle, or null for an unknown or closed one.
HandleObject* LookupHandle(void* handle);
/// Destroys the object; false for an unknown or closed handle.
bool ReleaseHandle(void* handle);

/// The pseudo-handle of the current process, as GetCurrentProcess gives it.
inline void* CurrentProcessHandle() { return reinterpret_cast<void*>(static_cast<intptr_t>(-1)); }

}  // namespace lystrel::layer
