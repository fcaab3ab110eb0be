// Access tokens and privileges. A token stands for the calling process's
// capability sets; the debug privilege is the pair of capabilities that
// debug_capabilities.h names, and it is the only privilege the layer knows.
#include <cstring>
#include <memory>

#include "debug_capabilities.h"
#include "layer.h"
#include "win32.h"

using namespace lystrel;

namespace {

// Codes of this file that the shared declarations do not name.
constexpr DWORD kRpcServerUnavailable = 1722;

constexpr DWORD kSePrivilegeRemoved = 0x00000004;
constexpr LUID kDebugPrivilege = {20, 0};

// The token behind a token handle, with the access it was opened for.
struct AccessToken : layer::HandleObject {
    DWORD access = 0;
};

bool SameLuid(const LUID& a, const LUID& b) { return a.LowPart == b.LowPart && a.HighPart == b.HighPart; }

// Privilege names compare without regard to case, as on Windows.
bool SameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        const char lowerA = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        const char lowerB = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (lowerA != lowerB) return false;
    }
    return *a == *b;
}

}  // namespace

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    // Only the calling process's own token can be opened: capability sets of
    // other processes cannot be changed.
    if (ProcessHandle != layer::CurrentProcessHandle()) {
        layer::SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (TokenHandle == nullptr) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto token = std::make_unique<AccessToken>();
    token->access = DesiredAccess;
    *TokenHandle = layer::RegisterHandle(std::move(token));
    layer::SetError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    if (lpSystemName != nullptr && lpSystemName[0] != '\0') {
        layer::SetError(kRpcServerUnavailable);
        return FALSE;
    }
    if (lpName == nullptr || lpLuid == nullptr) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!SameName(lpName, "SeDebugPrivilege")) {
        layer::SetError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    *lpLuid = kDebugPrivilege;
    layer::SetError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
    auto* token =
        TokenHandle == nullptr ? nullptr : dynamic_cast<AccessToken*>(layer::LookupHandle(TokenHandle));
    if (token == nullptr) {
        layer::SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((token->access & TOKEN_ADJUST_PRIVILEGES) == 0 ||
        (PreviousState != nullptr && (token->access & TOKEN_QUERY) == 0)) {
        layer::SetError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if ((!DisableAllPrivileges && NewState == nullptr) || (PreviousState != nullptr && ReturnLength == nullptr)) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // What the caller asks of the debug privilege: raise, lower or leave it;
    // and whether it names privileges the token does not hold.
    enum class Wish { Keep, Enable, Disable } wish = Wish::Keep;
    bool unknownPrivilege = false;
    if (DisableAllPrivileges) {
        wish = Wish::Disable;
    } else {
        // The entries follow the count; read them where they lie, whatever
        // the declared array length.
        const LUID_AND_ATTRIBUTES* entries = NewState->Privileges;
        for (DWORD index = 0; index < NewState->PrivilegeCount; ++index) {
            LUID_AND_ATTRIBUTES entry;
            std::memcpy(&entry, entries + index, sizeof entry);
            if (!SameLuid(entry.Luid, kDebugPrivilege)) {
                unknownPrivilege = true;
                continue;
            }
            if (entry.Attributes & kSePrivilegeRemoved) {
                wish = Wish::Disable;
            } else {
                wish = (entry.Attributes & SE_PRIVILEGE_ENABLED) ? Wish::Enable : Wish::Disable;
            }
        }
    }

    const bool wasEnabled = layer::DebugCapabilitiesEffective();
    if (PreviousState != nullptr) {
        // The previous state lists the debug privilege when the call changes it.
        const bool changes = (wish == Wish::Enable && !wasEnabled) || (wish == Wish::Disable && wasEnabled);
        const DWORD needed = static_cast<DWORD>(sizeof(DWORD) + (changes ? sizeof(LUID_AND_ATTRIBUTES) : 0));
        *ReturnLength = needed;
        if (BufferLength < needed) {
            layer::SetError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        PreviousState->PrivilegeCount = changes ? 1 : 0;
        if (changes) {
            LUID_AND_ATTRIBUTES previous;
            previous.Luid = kDebugPrivilege;
            previous.Attributes = wasEnabled ? SE_PRIVILEGE_ENABLED : 0;
            std::memcpy(PreviousState->Privileges, &previous, sizeof previous);
        }
    }

    layer::CapabilityChange change = layer::CapabilityChange::Done;
    if (wish == Wish::Enable) change = layer::RaiseDebugCapabilities();
    if (wish == Wish::Disable) change = layer::LowerDebugCapabilities();
    if (change == layer::CapabilityChange::Failed) {
        layer::SetError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Like Windows, the call succeeds when a privilege is not held, and says
    // so in the last error.
    layer::SetError(change == layer::CapabilityChange::NotAllHeld || unknownPrivilege ? ERROR_NOT_ALL_ASSIGNED
                                                                                     : ERROR_SUCCESS);
    return TRUE;
}
