// WSAStartup, WSAAddressToStringA and ntohs as our code relies on them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "win32.h"

namespace {

struct AddressCase {
    const char* name;
    bool ipv6;
    uint8_t bytes[16];
    uint32_t scope;
    uint16_t port;
    const char* text;
};

const AddressCase kAddressCases[] = {
    {"any4", false, {0, 0, 0, 0}, 0, 0, "0.0.0.0"},
    {"loopback4", false, {127, 0, 0, 1}, 0, 0, "127.0.0.1"},
    {"broadcast", false, {255, 255, 255, 255}, 0, 0, "255.255.255.255"},
    {"any6", true, {}, 0, 0, "::"},
    {"loopback6", true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0, 0, "::1"},
    {"link-local scope 12", true, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 12, 0, "fe80::1%12"},
    {"link-local scope 0", true, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0, 0, "fe80::1"},
    {"mapped", true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 1, 2, 3, 4}, 0, 0, "::ffff:1.2.3.4"},
    {"compatible", true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}, 0, 0, "::1.2.3.4"},
    {"mapped zero", true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 0}, 0, 0, "::ffff:0:0"},
    {"single zero group", true, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}, 0, 0,
     "2001:db8:0:1:1:1:1:1"},
    {"first of equal runs", true, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}, 0, 0,
     "2001:db8::1:0:0:1"},
    {"longest run", true, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, 0, 0, "2001:db8:0:1::1"},
    {"lower case", true, {0xab, 0xcd, 0xef, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0x0a, 0xbc, 0x00, 0xff}, 0, 0,
     "abcd:ef01::abc:ff"},
    {"port4", false, {10, 1, 2, 3}, 0, 80, "10.1.2.3:80"},
    {"port6", true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0, 443, "[::1]:443"},
    {"port6 with scope", true, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 3, 53, "[fe80::1%3]:53"},
};

// Builds the socket address of a case in `storage` and returns its length.
DWORD BuildAddress(const AddressCase& c, unsigned char* storage) {
    if (c.ipv6) {
        SOCKADDR_IN6 address;
        std::memset(&address, 0, sizeof address);
        address.sin6_family = AF_INET6;
        address.sin6_port = static_cast<USHORT>((c.port >> 8) | (c.port << 8));
        address.sin6_flowinfo = 0x12345;  // ignored
        std::memcpy(&address.sin6_addr, c.bytes, 16);
        address.sin6_scope_id = c.scope;
        std::memcpy(storage, &address, sizeof address);
        return sizeof address;
    }
    SOCKADDR_IN address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = static_cast<u_short>((c.port >> 8) | (c.port << 8));
    std::memcpy(&address.sin_addr, c.bytes, 4);
    std::memcpy(storage, &address, sizeof address);
    return sizeof address;
}

TEST(WSAAddressToStringA, TextsOfTheAddressTable) {
    for (const AddressCase& c : kAddressCases) {
        SCOPED_TRACE(c.name);
        unsigned char storage[32];
        const DWORD addressLength = BuildAddress(c, storage);
        char text[100];
        std::memset(text, 'X', sizeof text);
        DWORD length = sizeof text;
        ASSERT_EQ(0, WSAAddressToStringA(reinterpret_cast<LPSOCKADDR>(storage), addressLength, nullptr, text,
                                         &length));
        EXPECT_STREQ(c.text, text);
        EXPECT_EQ(std::strlen(c.text) + 1, length);
    }
}

TEST(WSAAddressToStringA, OneShortFailsAndLeavesTheBufferExactWorks) {
    for (const AddressCase& c : kAddressCases) {
        SCOPED_TRACE(c.name);
        unsigned char storage[32];
        const DWORD addressLength = BuildAddress(c, storage);
        const DWORD need = static_cast<DWORD>(std::strlen(c.text) + 1);

        char text[100];
        std::memset(text, 'X', sizeof text);
        DWORD length = need - 1;
        SetLastError(0);
        EXPECT_EQ(SOCKET_ERROR, WSAAddressToStringA(reinterpret_cast<LPSOCKADDR>(storage), addressLength,
                                                    nullptr, text, &length));
        EXPECT_EQ(WSAEFAULT, WSAGetLastError());
        EXPECT_EQ(need, length);
        for (char c2 : text) ASSERT_EQ('X', c2);

        length = need;
        ASSERT_EQ(0, WSAAddressToStringA(reinterpret_cast<LPSOCKADDR>(storage), addressLength, nullptr, text,
                                         &length));
        EXPECT_STREQ(c.text, text);
        EXPECT_EQ('X', text[need]);
    }
}

TEST(WSAAddressToStringA, InvalidArgumentsGiveWSAEINVAL) {
    SOCKADDR_IN v4;
    std::memset(&v4, 0, sizeof v4);
    v4.sin_family = AF_INET;
    SOCKADDR_IN6 v6;
    std::memset(&v6, 0, sizeof v6);
    v6.sin6_family = AF_INET6;
    SOCKADDR_IN bad;
    std::memset(&bad, 0, sizeof bad);
    bad.sin_family = 99;
    char text[100];
    DWORD length = sizeof text;

    struct Case {
        const char* name;
        LPSOCKADDR address;
        DWORD addressLength;
        LPSTR buffer;
        LPDWORD length;
    } cases[] = {
        {"bad family", reinterpret_cast<LPSOCKADDR>(&bad), sizeof bad, text, &length},
        {"short IPv4 length", reinterpret_cast<LPSOCKADDR>(&v4), sizeof v4 - 1, text, &length},
        {"short IPv6 length", reinterpret_cast<LPSOCKADDR>(&v6), sizeof v4, text, &length},
        {"zero length", reinterpret_cast<LPSOCKADDR>(&v4), 0, text, &length},
        {"null address", nullptr, sizeof v4, text, &length},
        {"null buffer", reinterpret_cast<LPSOCKADDR>(&v4), sizeof v4, nullptr, &length},
        {"null length", reinterpret_cast<LPSOCKADDR>(&v4), sizeof v4, text, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        length = sizeof text;
        EXPECT_EQ(SOCKET_ERROR, WSAAddressToStringA(c.address, c.addressLength, nullptr, c.buffer, c.length));
        EXPECT_EQ(WSAEINVAL, WSAGetLastError());
    }
}

TEST(WSAStartup, Version22StartsAndReportsItself) {
    WSADATA data;
    std::memset(&data, 0xAB, sizeof data);
    EXPECT_EQ(0, WSAStartup(0x0202, &data));
    EXPECT_EQ(0x0202, data.wVersion);
    EXPECT_EQ(0x0202, data.wHighVersion);
}

TEST(Ntohs, SwapsTheBytesInMemoryOrder) {
    const unsigned char bytes[2] = {0x01, 0xBD};
    u_short value;
    std::memcpy(&value, bytes, 2);
    EXPECT_EQ(445, ntohs(value));
}

}  // namespace
