// Formats IPv4 and IPv6 addresses as Windows Sockets does.
#include "address_text.h"

namespace lystrel::layer {
namespace {

void AppendDecimal(std::string& text, uint32_t value) {
    char digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) text.push_back(digits[--count]);
}

void AppendHexGroup(std::string& text, uint16_t value) {
    static const char hex[] = "0123456789abcdef";
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const unsigned digit = (value >> shift) & 0xF;
        if (digit != 0 || started || shift == 0) {
            text.push_back(hex[digit]);
            started = true;
        }
    }
}

void AppendDotted(std::string& text, const uint8_t* bytes) {
    for (int index = 0; index < 4; ++index) {
        if (index > 0) text.push_back('.');
        AppendDecimal(text, bytes[index]);
    }
}

uint16_t Group(const uint8_t address[16], int index) {
    return static_cast<uint16_t>((address[2 * index] << 8) | address[2 * index + 1]);
}

// The address part of an IPv6 text, without scope or port.
void AppendIPv6(std::string& text, const uint8_t address[16]) {
    bool leadingZero = true;
    for (int index = 0; index < 5; ++index)
        if (Group(address, index) != 0) leadingZero = false;
    const uint16_t sixth = Group(address, 5);
    // Mapped (::ffff:a.b.c.d) and compatible (::a.b.c.d) addresses keep their
    // IPv4 part dotted, unless its high 16 bits are zero (::1, ::ffff:0:0).
    if (leadingZero && (sixth == 0xFFFF || sixth == 0) && Group(address, 6) != 0) {
        text += sixth == 0xFFFF ? "::ffff:" : "::";
        AppendDotted(text, address + 12);
        return;
    }

    // The longest run of at least two zero groups; the first of equal runs.
    int bestStart = -1;
    int bestLength = 1;
    for (int index = 0; index < 8;) {
        if (Group(address, index) != 0) {
            ++index;
            continue;
        }
        int end = index;
        while (end < 8 && Group(address, end) == 0) ++end;
        if (end - index > bestLength) {
            bestStart = index;
            bestLength = end - index;
        }
        index = end;
    }

    for (int index = 0; index < 8; ++index) {
        if (index == bestStart) {
            text += "::";
            index += bestLength - 1;
            continue;
        }
        if (index > 0 && index != bestStart + bestLength) text.push_back(':');
        AppendHexGroup(text, Group(address, index));
    }
}

}  // namespace

std::string FormatIPv4Address(const uint8_t address[4], uint16_t port) {
    std::string text;
    text.reserve(21);
    AppendDotted(text, address);
    if (port != 0) {
        text.push_back(':');
        AppendDecimal(text, port);
    }
    return text;
}

std::string FormatIPv6Address(const uint8_t address[16], uint32_t scopeId, uint16_t port) {
    std::string text;
    text.reserve(64);
    if (port != 0) text.push_back('[');
    AppendIPv6(text, address);
    if (scopeId != 0) {
        text.push_back('%');
        AppendDecimal(text, scopeId);
    }
    if (port != 0) {
        text += "]:";
        AppendDecimal(text, port);
    }
    return text;
}

}  // namespace lystrel::layer
