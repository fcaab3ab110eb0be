// OpenProcess and QueryFullProcessImageNameA over /proc/PID.
//
// A process handle keeps the process's /proc directory open, so a handle
// keeps naming the process it was opened for even if its pid is reused.
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
    int directory = -1;
    ~ProcessObject() override {
        if (directory >= 0) close(directory);
    }
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

// The target of the exe link in the process's directory; false with errno set.
bool ReadExeLink(int directory, std::string& target) {
    size_t size = 256;
    for (;;) {
        target.resize(size);
        const ssize_t length =
            layer::Faulted(layer::Fault::ExeLinkRead) ? -1 : readlinkat(directory, "exe", &target[0], size);
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
    const std::string path = layer::HostPath("/proc/" + std::to_string(dwProcessId));
    const int directory =
        layer::Faulted(layer::Fault::ProcessOpen) ? -1 : open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        const int error = errno;
        layer::SetError(error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto process = std::make_unique<ProcessObject>();
    process->pid = dwProcessId;
    process->directory = directory;
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
    std::string target;
    if (!ReadExeLink(process->directory, target)) {
        layer::SetError(ErrorFromErrno(errno));
        return FALSE;
    }
    const std::string path = layer::EscapeControlBytes(target);
    if (path.size() + 1 > *lpdwSize) {
        layer::SetError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpExeName, path.c_str(), path.size() + 1);
    *lpdwSize = static_cast<DWORD>(path.size());
    return TRUE;
}
