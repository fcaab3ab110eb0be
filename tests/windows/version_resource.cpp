// A VERSIONINFO resource is a tree of blocks, each with a 16-bit length, a
// 16-bit value length, a 16-bit type, a NUL-terminated UTF-16LE key, padding
// to a 32-bit boundary and then the value. String values count UTF-16 units.
#include "version_resource.h"

namespace lystrel_test {
namespace {

std::uint16_t Word(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::string Utf16(const std::string& text) {
    std::string encoded;
    for (char c : text) {
        encoded.push_back(c);
        encoded.push_back('\0');
    }
    return encoded;
}

std::size_t AlignTo4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

}  // namespace

std::optional<FixedVersion> ReadFixedVersion(const std::string& resource) {
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    std::size_t at = resource.find(signature);
    // Signature, structure version, then FileVersionMS/LS and ProductVersionMS/LS.
    if (at == std::string::npos || at % 4 != 0 || at + 24 > resource.size()) {
        return std::nullopt;
    }
    FixedVersion version;
    for (int half = 0; half < 2; ++half) {
        std::size_t ms = at + 8 + 8 * half;
        std::uint16_t* target = half == 0 ? version.file : version.product;
        target[0] = Word(resource, ms + 2);
        target[1] = Word(resource, ms);
        target[2] = Word(resource, ms + 6);
        target[3] = Word(resource, ms + 4);
    }
    return version;
}

std::optional<std::string> ReadVersionString(const std::string& resource, const std::string& key) {
    const std::string encodedKey = Utf16(key) + std::string(2, '\0');
    for (std::size_t at = resource.find(encodedKey); at != std::string::npos;
         at = resource.find(encodedKey, at + 1)) {
        // The key starts right after the three header words, on a 32-bit boundary
        // plus six bytes.
        if (at < 6 || (at - 6) % 4 != 0) {
            continue;
        }
        std::size_t header = at - 6;
        std::uint16_t valueUnits = Word(resource, header + 2);
        std::uint16_t type = Word(resource, header + 4);
        std::size_t value = AlignTo4(at + encodedKey.size());
        if (type != 1 || value + 2 * std::size_t{valueUnits} > resource.size()) {
            continue;
        }
        std::string text;
        for (std::size_t unit = 0; unit < valueUnits; ++unit) {
            std::uint16_t c = Word(resource, value + 2 * unit);
            if (c == 0) {
                break;
            }
            if (c > 0x7f) {
                return std::nullopt;
            }
            text.push_back(static_cast<char>(c));
        }
        return text;
    }
    return std::nullopt;
}

}  // namespace lystrel_test
