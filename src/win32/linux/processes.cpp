// OpenProcess and QueryFullProcessImageNameA over /proc/PID.
//
// OpenProcess reads the process's exe link at once and the handle keeps what
// it read, so a handle keeps naming the image of the process it was opened
// for even if its pid is reused afterwards. In the common case that costs one
// system call per process opened; /proc/PID itself is opened only when the
// link cannot be read, to tell a missing process from one that may not be
// inspected.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "fault_injection.h"
#include "layer.h"
#include "win32.h"

using namespace lystrel;

namespace {

constexpr DWORD kErrorGenFailure = 31;

struct ProcessObject : layer::HandleObject {
    DWORD pid = 0;
    /// The exe link's target, valid when exeError is 0.
    std::string exe;
    /// The errno of reading the exe link, or 0.
    int exeError = 0;
};

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ESRCH:
        return ERROR_FILE_NOT_FOUND;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return kErrorGenFailure;
    }
}

// The target of the exe link at `path`; false with errno set.
bool ReadExeLink(const std::string& path, std::string& target) {
    size_t size = 256;
    for (;;) {
        target.resize(size);
        const ssize_t length =
            layer::Faulted(layer::Fault::ExeLinkRead) ? -1 : readlink(path.c_str(), &target[0], size);
        if (length < 0) return false;
        if (static_cast<size_t>(length) < size) {
            target.resize(static_cast<size_t>(length));
            return true;
        }
        if (size >= (1u << 20)) {
            errno = ENAMETOOLONG;
            return false;
        }
        size *= 2;
    }
}

}  // namespace

HANDLE WINAPI OpenProcess(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, DWORD dwProcessId) {
    if (dwProcessId == 0) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string directory = layer::HostPath("/proc/" + std::to_string(dwProcessId));
    auto process = std::make_unique<ProcessObject>();
    process->pid = dwProcessId;
    if (layer::Faulted(layer::Fault::ProcessOpen)) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!ReadExeLink(directory + "/exe", process->exe)) {
        process->exeError = errno;
        // The link could not be read: the process may be gone, may not be
        // inspected, or may have no image (a kernel thread). Its directory
        // tells which.
        const int opened = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (opened < 0) {
            const int error = errno;
            layer::SetError(error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        close(opened);
    }
    return layer::RegisterHandle(std::move(process));
}

BOOL WINAPI QueryFullProcessImageNameA(HANDLE hProcess, DWORD dwFlags, LPSTR lpExeName, PDWORD lpdwSize) {
    auto* process = dynamic_cast<ProcessObject*>(layer::LookupHandle(hProcess));
    if (process == nullptr) {
        layer::SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Only the Win32 path form (flags 0) is offered.
    if (dwFlags != 0 || lpExeName == nullptr || lpdwSize == nullptr) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (process->exeError != 0) {
        layer::SetError(ErrorFromErrno(process->exeError));
        return FALSE;
    }
    const std::string path = layer::EscapeControlBytes(process->exe);
    if (path.size() + 1 > *lpdwSize) {
        layer::SetError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpExeName, path.c_str(), path.size() + 1);
    *lpdwSize = static_cast<DWORD>(path.size());
    return TRUE;
}
