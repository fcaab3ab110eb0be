// Reads the objdump listing of a PE image into plain fields.
#include "pe_facts.h"

#include <algorithm>
#include <cctype>
#include <regex>
#include <sstream>

namespace lystrel_test {
namespace {

std::uint64_t Hex(const std::string& text) { return std::stoull(text, nullptr, 16); }

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

PeFacts ParsePeFacts(const std::string& privateHeaders, const std::string& sectionHeaders) {
    PeFacts facts;
    const std::regex field(R"(^(\w+)\s+([0-9a-fA-F]+)\b.*)");
    const std::regex dll(R"(^\s+DLL Name: (\S+)\s*$)");
    // In the resource directory listing the indentation after the offset gives the
    // level: 3 blanks for a type, 5 for a name or id, 7 for a language.
    const std::regex entry(R"(^[0-9a-f]+( +)Entry: ID: 0x([0-9a-f]+), .*)");
    const std::regex leaf(R"(^[0-9a-f]+ +Leaf: Addr: 0x([0-9a-f]+), Size: 0x([0-9a-f]+),.*)");
    std::uint64_t imageBase = 0;
    bool inResources = false;
    ResourceLeaf current;

    std::istringstream lines(privateHeaders);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (line.rfind("The .rsrc Resource Directory section", 0) == 0) {
            inResources = true;
            continue;
        }
        if (inResources) {
            if (std::regex_match(line, match, entry)) {
                std::uint32_t value = static_cast<std::uint32_t>(Hex(match[2]));
                switch (match[1].length()) {
                    case 3: current.type = value; break;
                    case 5: current.id = value; break;
                    case 7: current.language = value; break;
                    default: break;
                }
                continue;
            }
            if (std::regex_match(line, match, leaf)) {
                current.rva = static_cast<std::uint32_t>(Hex(match[1]));
                current.size = static_cast<std::uint32_t>(Hex(match[2]));
                facts.resources.push_back(current);
                continue;
            }
            if (line.find("Resources start at offset") != std::string::npos || line.empty()) {
                inResources = false;
            }
            continue;
        }
        if (std::regex_match(line, match, dll)) {
            facts.importedDlls.insert(Lower(match[1]));
            continue;
        }
        if (std::regex_match(line, match, field)) {
            const std::string name = match[1];
            const std::string value = match[2];
            if (name == "Magic") facts.magic = static_cast<std::uint32_t>(Hex(value));
            else if (name == "Subsystem") facts.subsystem = static_cast<std::uint32_t>(Hex(value));
            else if (name == "ImageBase") imageBase = Hex(value);
            else if (name == "MajorSubsystemVersion") facts.majorSubsystemVersion = std::stoul(value);
            else if (name == "MinorSubsystemVersion") facts.minorSubsystemVersion = std::stoul(value);
            else if (name == "MajorOSystemVersion") facts.majorOsVersion = std::stoul(value);
            else if (name == "MinorOSystemVersion") facts.minorOsVersion = std::stoul(value);
        }
    }

    // "Idx Name Size VMA LMA File-off Algn" for the .rsrc section.
    const std::regex section(
        R"(^\s*\d+ \.rsrc\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)\s+.*)");
    std::istringstream sectionLines(sectionHeaders);
    while (std::getline(sectionLines, line)) {
        if (std::regex_match(line, match, section)) {
            facts.resourceSectionSize = Hex(match[1]);
            facts.resourceSectionRva = Hex(match[2]) - imageBase;
            facts.resourceSectionFileOffset = Hex(match[3]);
        }
    }
    return facts;
}

std::optional<std::string> ResourceBytes(const PeFacts& facts, const ResourceLeaf& leaf,
                                         const std::string& exeContent) {
    if (leaf.rva < facts.resourceSectionRva ||
        leaf.rva + std::uint64_t{leaf.size} > facts.resourceSectionRva + facts.resourceSectionSize) {
        return std::nullopt;
    }
    std::uint64_t offset = facts.resourceSectionFileOffset + (leaf.rva - facts.resourceSectionRva);
    if (offset + leaf.size > exeContent.size()) {
        return std::nullopt;
    }
    return exeContent.substr(offset, leaf.size);
}

}  // namespace lystrel_test
