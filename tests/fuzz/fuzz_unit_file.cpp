// Feeds arbitrary unit file texts to the parser of Description=, and the
// texts it gives (or the input itself) to the specifier expansion with a
// fuzzed unit name. The first byte gives the unit name's length; the name
// follows, then the unit file's text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "unit_files.h"

using namespace lystrel::layer;

namespace {

void CheckExpansion(std::string_view text, std::string_view unitName) {
    const std::string expanded = ExpandUnitSpecifiers(text, unitName);
    // Without a percent sign there is nothing to expand.
    if (text.find('%') == std::string_view::npos && expanded != text) __builtin_trap();
    // Each two-byte specifier gives at most the unit name and a slash.
    if (expanded.size() > text.size() + (text.size() / 2) * (unitName.size() + 1)) __builtin_trap();
    if (ExpandUnitSpecifiers(text, unitName) != expanded) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t nameLength = data[0] < size - 1 ? data[0] : size - 1;
    // Private copies of exactly their sizes, so that any read past their
    // ends is caught.
    const std::vector<char> nameCopy(data + 1, data + 1 + nameLength);
    const std::vector<char> textCopy(data + 1 + nameLength, data + size);
    const std::string_view unitName(nameCopy.data(), nameCopy.size());
    const std::string_view text(textCopy.data(), textCopy.size());

    const std::optional<std::string> description = ParseUnitDescription(text);
    if (description) {
        // One logical line, trimmed, taken from the text's bytes.
        if (description->find('\n') != std::string::npos) __builtin_trap();
        constexpr std::string_view kWhitespace = " \t\n\r";
        if (!description->empty() && (kWhitespace.find(description->front()) != std::string_view::npos ||
                                      kWhitespace.find(description->back()) != std::string_view::npos))
            __builtin_trap();
        if (description->size() > text.size()) __builtin_trap();
        if (text.find('\0') == std::string_view::npos && description->find('\0') != std::string::npos)
            __builtin_trap();
        CheckExpansion(*description, unitName);
    }
    // The whole text, taken as a description, expands too.
    CheckExpansion(text, unitName);
    return 0;
}
