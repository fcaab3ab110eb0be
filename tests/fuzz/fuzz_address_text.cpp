// Feeds arbitrary socket addresses to WSAAddressToStringA through the layer.
// The input gives the flags, the address length, the text buffer's length and
// then the address bytes. The address and the text buffer are heap blocks of
// exactly the given lengths, so that any access past them is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "win32.h"

// The host's own address parser checks the texts. Its header would clash
// with the Windows names of win32.h, so it is declared here with the host's
// (Linux) family numbers.
extern "C" int inet_pton(int af, const char* src, void* dst);

namespace {

constexpr int kHostInet = 2;
constexpr int kHostInet6 = 10;
constexpr uint8_t kUntouched = 0xA5;

// Checks a text against the address it came from by parsing it back.
void CheckText(std::string_view text, const uint8_t* address, size_t addressLength) {
    u_short family;
    std::memcpy(&family, address, sizeof family);
    uint16_t port = 0;
    uint32_t scope = 0;
    std::string host(text);
    if (family == AF_INET) {
        SOCKADDR_IN in;
        if (addressLength < sizeof in) __builtin_trap();
        std::memcpy(&in, address, sizeof in);
        port = ntohs(in.sin_port);
        if (port != 0) {
            const std::string suffix = ":" + std::to_string(port);
            if (host.size() <= suffix.size() || host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0)
                __builtin_trap();
            host.resize(host.size() - suffix.size());
        }
        uint8_t parsed[4];
        if (inet_pton(kHostInet, host.c_str(), parsed) != 1) __builtin_trap();
        if (std::memcmp(parsed, &in.sin_addr, 4) != 0) __builtin_trap();
        return;
    }
    if (family != AF_INET6) __builtin_trap();
    SOCKADDR_IN6 in6;
    if (addressLength < sizeof in6) __builtin_trap();
    std::memcpy(&in6, address, sizeof in6);
    port = ntohs(in6.sin6_port);
    scope = in6.sin6_scope_id;
    if (port != 0) {
        const std::string suffix = "]:" + std::to_string(port);
        if (host.size() <= suffix.size() + 1 || host.front() != '[' ||
            host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0)
            __builtin_trap();
        host = host.substr(1, host.size() - suffix.size() - 1);
    }
    if (scope != 0) {
        const std::string suffix = "%" + std::to_string(scope);
        if (host.size() <= suffix.size() || host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0)
            __builtin_trap();
        host.resize(host.size() - suffix.size());
    }
    uint8_t parsed[16];
    if (inet_pton(kHostInet6, host.c_str(), parsed) != 1) __builtin_trap();
    if (std::memcmp(parsed, in6.sin6_addr.u.Byte, 16) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t flags = data[0];
    const size_t addressLength = data[1] % 48;
    const DWORD textLength = data[2] % 80;
    data += 3;
    size -= 3;

    // The address bytes, zero-filled where the input ends early. Flag bit 0
    // and 1 make the family AF_INET or AF_INET6, so that both are reached
    // often.
    std::unique_ptr<uint8_t[]> address(new uint8_t[addressLength]);
    std::memset(address.get(), 0, addressLength);
    std::memcpy(address.get(), data, size < addressLength ? size : addressLength);
    if (addressLength >= 2 && (flags & 3) != 0) {
        const u_short family = (flags & 3) == 1 ? AF_INET : AF_INET6;
        std::memcpy(address.get(), &family, sizeof family);
    }
    std::unique_ptr<uint8_t[]> text(new uint8_t[textLength]);
    std::memset(text.get(), kUntouched, textLength);

    // Flag bits 2 to 4 leave out the address, the text or the length.
    DWORD length = textLength;
    LPSOCKADDR addressArgument = flags & 4 ? nullptr : reinterpret_cast<LPSOCKADDR>(address.get());
    LPSTR textArgument = flags & 8 ? nullptr : reinterpret_cast<LPSTR>(text.get());
    LPDWORD lengthArgument = flags & 16 ? nullptr : &length;
    const INT result = WSAAddressToStringA(addressArgument, static_cast<DWORD>(addressLength), nullptr,
                                           textArgument, lengthArgument);

    if (result == 0) {
        // The text, its NUL included, fits the given length, and the length
        // returned counts exactly that.
        if (addressArgument == nullptr || textArgument == nullptr || lengthArgument == nullptr) __builtin_trap();
        if (length == 0 || length > textLength) __builtin_trap();
        const char* written = reinterpret_cast<const char*>(text.get());
        if (written[length - 1] != '\0' || std::strlen(written) != length - 1) __builtin_trap();
        for (DWORD index = length; index < textLength; ++index)
            if (text[index] != kUntouched) __builtin_trap();
        CheckText(std::string_view(written, length - 1), address.get(), addressLength);
        return 0;
    }

    // A failure writes no text; only a too short buffer sets the length.
    if (result != SOCKET_ERROR) __builtin_trap();
    for (DWORD index = 0; index < textLength; ++index)
        if (text[index] != kUntouched) __builtin_trap();
    const int error = WSAGetLastError();
    if (error == WSAEFAULT) {
        if (length <= textLength || length > 64) __builtin_trap();
    } else if (error == WSAEINVAL) {
        if (length != textLength) __builtin_trap();
    } else {
        __builtin_trap();
    }
    return 0;
}
