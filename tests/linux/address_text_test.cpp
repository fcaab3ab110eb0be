// The address formatter beyond the table of WSAAddressToStringA texts.
#include <gtest/gtest.h>

#include "address_text.h"

namespace {

using lystrel::layer::FormatIPv4Address;
using lystrel::layer::FormatIPv6Address;

struct Case {
    const char* name;
    uint8_t bytes[16];
    const char* text;
};

const Case kCases[] = {
    {"trailing run", {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "2001:db8::"},
    {"leading run", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34}, "::1234"},
    {"no zero group", {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8}, "1:2:3:4:5:6:7:8"},
    {"all ones", {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
     "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
    {"later run longer", {0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, "1:0:0:1::1"},
    {"mapped with zero low half", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 5}, "::ffff:0:5"},
    {"compatible high", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 192, 168, 0, 1}, "::192.168.0.1"},
    {"other sixth group", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 1, 2, 3, 4}, "::1234:102:304"},
};

TEST(FormatIPv6Address, GroupsAndCompression) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.text, FormatIPv6Address(c.bytes, 0, 0));
    }
}

TEST(FormatIPv6Address, ScopeAndPortAreAppendedInThatOrder) {
    const uint8_t any[16] = {};
    EXPECT_EQ("::%4294967295", FormatIPv6Address(any, 0xFFFFFFFFu, 0));
    EXPECT_EQ("[::%1]:65535", FormatIPv6Address(any, 1, 65535));
}

TEST(FormatIPv4Address, PortOnlyWhenNonzero) {
    const uint8_t address[4] = {192, 0, 2, 255};
    EXPECT_EQ("192.0.2.255", FormatIPv4Address(address, 0));
    EXPECT_EQ("192.0.2.255:1", FormatIPv4Address(address, 1));
}

}  // namespace
