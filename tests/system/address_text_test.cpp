// FormatEndpointAddress and StartSocketLayer over the scripted socket layer:
// the socket address handed to WSAAddressToStringA, the text handed back, and
// the failures.
#include <cstring>
#include <string>
#include <vector>

#include "system_fixture.h"

namespace lystrel {
namespace {

using AddressTextTest = SystemTest;

ListeningEndpoint Endpoint(AddressFamily family, const std::vector<uint8_t>& address, uint32_t scopeId) {
    ListeningEndpoint endpoint;
    endpoint.family = family;
    endpoint.protocol = TransportProtocol::UDP;
    std::memcpy(endpoint.localAddress, address.data(), address.size());
    endpoint.scopeId = scopeId;
    endpoint.localPort = 445;
    endpoint.owningPid = 4;
    return endpoint;
}

void PutLittleEndian(std::vector<uint8_t>& bytes, uint32_t value, size_t count) {
    for (size_t index = 0; index < count; ++index) bytes.push_back(static_cast<uint8_t>(value >> (8 * index)));
}

// The socket address the conversion must receive, byte by byte: the family,
// a zero port, the address and zero fill (IPv4) or zero flow information,
// the address and the scope (IPv6).
std::vector<uint8_t> ExpectedSocketAddress(AddressFamily family, const std::vector<uint8_t>& address,
                                           uint32_t scopeId) {
    std::vector<uint8_t> bytes;
    if (family == AddressFamily::IPv4) {
        PutLittleEndian(bytes, 2, 2);
        PutLittleEndian(bytes, 0, 2);
        bytes.insert(bytes.end(), address.begin(), address.end());
        PutLittleEndian(bytes, 0, 4);
        PutLittleEndian(bytes, 0, 4);
    } else {
        PutLittleEndian(bytes, 23, 2);
        PutLittleEndian(bytes, 0, 2);
        PutLittleEndian(bytes, 0, 4);
        bytes.insert(bytes.end(), address.begin(), address.end());
        PutLittleEndian(bytes, scopeId, 4);
    }
    return bytes;
}

struct AddressCase {
    const char* name;
    AddressFamily family;
    std::vector<uint8_t> address;
    uint32_t scopeId;
    std::string text;
};

const std::vector<uint8_t> kLinkLocal = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

const AddressCase kAddressCases[] = {
    {"IPv4 loopback", AddressFamily::IPv4, {127, 0, 0, 1}, 0, "127.0.0.1"},
    {"IPv4 any", AddressFamily::IPv4, {0, 0, 0, 0}, 0, "0.0.0.0"},
    {"IPv4 longest text fills the 16 characters", AddressFamily::IPv4, {255, 255, 255, 255}, 0,
     "255.255.255.255"},
    {"IPv6 any", AddressFamily::IPv6, std::vector<uint8_t>(16, 0), 0, "::"},
    {"IPv6 link-local with scope 12", AddressFamily::IPv6, kLinkLocal, 12, "fe80::1%12"},
    {"IPv6 scope copied unchanged", AddressFamily::IPv6, kLinkLocal, 0x0C000000, "fe80::1%201326592"},
    {"IPv6 longest text", AddressFamily::IPv6, std::vector<uint8_t>(16, 0xFF), 0xFFFFFFFF,
     "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff%4294967295"},
};

TEST_F(AddressTextTest, PassesTheAddressWithPortZeroAndReturnsTheText) {
    for (const AddressCase& entry : kAddressCases) {
        SCOPED_TRACE(entry.name);
        fake::Reset();
        win32.addressToString.fallback.text = entry.text;
        const bool ipv4 = entry.family == AddressFamily::IPv4;

        const AddressText result = queries.FormatEndpointAddress(Endpoint(entry.family, entry.address, entry.scopeId));

        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.text, entry.text);
        ASSERT_EQ(win32.addressToStringCalls.size(), 1u);
        const fake::AddressToStringCall& call = win32.addressToStringCalls[0];
        EXPECT_FALSE(call.addressNull);
        EXPECT_EQ(call.family, ipv4 ? 2 : 23);
        EXPECT_EQ(call.addressLength, ipv4 ? 16u : 28u);
        EXPECT_EQ(call.address, ExpectedSocketAddress(entry.family, entry.address, entry.scopeId));
        EXPECT_TRUE(call.protocolInfoNull);
        EXPECT_FALSE(call.bufferNull);
        EXPECT_FALSE(call.lengthNull);
        EXPECT_EQ(call.lengthOnEntry, ipv4 ? 16u : 100u);
    }
}

// The endpoint's port and stray bytes behind an IPv4 address never reach the
// socket address.
TEST_F(AddressTextTest, Ipv4AddressUsesOnlyItsFourBytes) {
    ListeningEndpoint endpoint = Endpoint(AddressFamily::IPv4, std::vector<uint8_t>(16, 0x77), 99);
    endpoint.localAddress[0] = 10;

    queries.FormatEndpointAddress(endpoint);

    ASSERT_EQ(win32.addressToStringCalls.size(), 1u);
    EXPECT_EQ(win32.addressToStringCalls[0].address,
              ExpectedSocketAddress(AddressFamily::IPv4, {10, 0x77, 0x77, 0x77}, 0));
}

TEST_F(AddressTextTest, ConversionFailureReturnsTheSocketLayerLastError) {
    struct FailureCase {
        const char* name;
        AddressFamily family;
        int code;
        bool injected;
    };
    const FailureCase cases[] = {
        {"IPv4, buffer too small", AddressFamily::IPv4, WSAEFAULT, false},
        {"IPv6, invalid argument", AddressFamily::IPv6, WSAEINVAL, false},
        {"IPv4, injected", AddressFamily::IPv4, 10047, true},
        {"IPv6, injected", AddressFamily::IPv6, 10093, true},
    };
    for (const FailureCase& entry : cases) {
        SCOPED_TRACE(entry.name);
        fake::Reset();
        if (entry.injected) {
            win32.Fail(fake::Function::WSAAddressToStringA, 0, static_cast<DWORD>(entry.code));
        } else {
            win32.addressToString.fallback.result = SOCKET_ERROR;
            win32.addressToString.fallback.wsaError = entry.code;
        }

        const AddressText result =
            queries.FormatEndpointAddress(Endpoint(entry.family, std::vector<uint8_t>(16, 0), 0));

        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.errorCode, entry.code);
        EXPECT_EQ(win32.addressToStringCalls.size(), 1u) << "no retry";
        EXPECT_EQ(win32.CallCount(fake::Function::WSAGetLastError), 1u);
    }
}

// A text longer than the buffer makes the socket layer fail with WSAEFAULT;
// no truncated text comes back.
TEST_F(AddressTextTest, TextLongerThanTheBufferIsAFailure) {
    win32.addressToString.fallback.text = "255.255.255.2555";

    const AddressText result = queries.FormatEndpointAddress(Endpoint(AddressFamily::IPv4, {1, 2, 3, 4}, 0));

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.errorCode, WSAEFAULT);
    EXPECT_TRUE(result.text.empty());
}

TEST_F(AddressTextTest, StartSocketLayerAsksForVersionTwoTwo) {
    EXPECT_EQ(queries.StartSocketLayer(), 0);

    ASSERT_EQ(win32.wsaStartupCalls.size(), 1u);
    EXPECT_EQ(win32.wsaStartupCalls[0].version, 0x0202);
    EXPECT_FALSE(win32.wsaStartupCalls[0].dataNull);
}

TEST_F(AddressTextTest, StartSocketLayerPassesTheFailureCodeUp) {
    const int codes[] = {10091, 10092, 10067};
    for (int code : codes) {
        SCOPED_TRACE(code);
        fake::Reset();
        win32.wsaStartup.fallback.result = code;
        EXPECT_EQ(queries.StartSocketLayer(), code);
    }
}

}  // namespace
}  // namespace lystrel
