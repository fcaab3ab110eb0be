// Unit file search, drop-ins and the Description= setting.
#include "unit_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <map>
#include <vector>

#include "fault_injection.h"
#include "layer.h"

namespace lystrel::layer {
namespace {

constexpr std::string_view kWhitespace = " \t\n\r";
// A unit file larger than this is not a unit file; the rest is not read.
constexpr size_t kMaxUnitFileSize = 1 << 20;
// Symbolic links followed from a unit file name before giving up.
constexpr int kMaxLinks = 8;

// systemd's unit search path for the system manager, highest priority first.
// /lib/systemd/system is searched before /usr/lib for systems without a
// merged /usr.
constexpr const char* kUnitDirectories[] = {
    "/etc/systemd/system.control", "/run/systemd/system.control", "/run/systemd/transient",
    "/run/systemd/generator.early", "/etc/systemd/system",        "/etc/systemd/system.attached",
    "/run/systemd/system",          "/run/systemd/system.attached", "/run/systemd/generator",
    "/usr/local/lib/systemd/system", "/lib/systemd/system",       "/usr/lib/systemd/system",
    "/run/systemd/generator.late",
};

std::string_view Trim(std::string_view text) {
    const size_t begin = text.find_first_not_of(kWhitespace);
    if (begin == std::string_view::npos) return std::string_view();
    const size_t end = text.find_last_not_of(kWhitespace);
    return text.substr(begin, end - begin + 1);
}

bool IsComment(std::string_view line) { return !line.empty() && (line.front() == '#' || line.front() == ';'); }

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A line continues onto the next when it ends in a backslash that is not
// itself escaped.
bool EndsInContinuation(std::string_view line) {
    size_t backslashes = 0;
    while (backslashes < line.size() && line[line.size() - 1 - backslashes] == '\\') ++backslashes;
    return backslashes % 2 == 1;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes systemd's unit name escaping: "-" stands for "/" and "\xHH" for a byte.
std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t index = 0; index < text.size(); ++index) {
        const char c = text[index];
        if (c == '-') {
            out.push_back('/');
        } else if (c == '\\' && index + 3 < text.size() && text[index + 1] == 'x' &&
                   HexValue(text[index + 2]) >= 0 && HexValue(text[index + 3]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[index + 2]) * 16 + HexValue(text[index + 3])));
            index += 3;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The unescaped text as an absolute path, as systemd's %f gives it.
std::string UnescapedPath(std::string_view text) {
    std::string path = Unescape(text);
    if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
    return path;
}

// The text of the file at an absolute path under the root, following
// symbolic links of its last component within the root; none when it cannot
// be read.
std::optional<std::string> ReadUnitFile(std::string absolute) {
    for (int link = 0; link <= kMaxLinks; ++link) {
        const std::string host = HostPath(absolute);
        struct stat status;
        if (Faulted(Fault::UnitFileStat) || lstat(host.c_str(), &status) != 0) return std::nullopt;
        if (S_ISLNK(status.st_mode)) {
            char target[4096];
            const ssize_t length = Faulted(Fault::UnitFileLinkRead) ? -1 : readlink(host.c_str(), target, sizeof target);
            if (length <= 0 || static_cast<size_t>(length) == sizeof target) return std::nullopt;
            std::string next(target, static_cast<size_t>(length));
            if (next.front() != '/') next = absolute.substr(0, absolute.rfind('/') + 1) + next;
            absolute = std::move(next);
            continue;
        }
        // A masked unit links to /dev/null; anything but a regular file gives
        // no settings.
        if (!S_ISREG(status.st_mode)) return std::string();
        const int fd = Faulted(Fault::UnitFileOpen) ? -1 : open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return std::nullopt;
        std::string text;
        char chunk[8192];
        while (text.size() < kMaxUnitFileSize) {
            const ssize_t got = Faulted(Fault::UnitFileRead) ? -1 : read(fd, chunk, sizeof chunk);
            if (got <= 0) break;
            text.append(chunk, static_cast<size_t>(got));
        }
        close(fd);
        if (text.size() > kMaxUnitFileSize) text.resize(kMaxUnitFileSize);
        return text;
    }
    return std::nullopt;
}

bool Exists(const std::string& absolute) {
    struct stat status;
    return !Faulted(Fault::UnitFileStat) && lstat(HostPath(absolute).c_str(), &status) == 0;
}

// The first unit file named `fileName` in the search path, as an absolute path.
std::optional<std::string> FindUnitFile(const std::string& fileName) {
    for (const char* directory : kUnitDirectories) {
        std::string path = std::string(directory) + "/" + fileName;
        if (Exists(path)) return path;
    }
    return std::nullopt;
}

// The drop-in files of the given unit names, by file name: a file in a
// directory earlier in the search path hides one of the same name later.
std::map<std::string, std::string> FindDropIns(const std::vector<std::string>& unitNames) {
    std::map<std::string, std::string> dropIns;
    for (const char* directory : kUnitDirectories) {
        for (const std::string& unitName : unitNames) {
            const std::string dropInDirectory = std::string(directory) + "/" + unitName + ".d";
            DIR* listing = Faulted(Fault::DropInDirectoryOpen) ? nullptr : opendir(HostPath(dropInDirectory).c_str());
            if (listing == nullptr) continue;
            while (const dirent* entry = Faulted(Fault::DropInDirectoryEntry) ? nullptr : readdir(listing)) {
                const std::string_view name = entry->d_name;
                if (name.front() == '.' || !EndsWith(name, ".conf")) continue;
                dropIns.emplace(std::string(name), dropInDirectory + "/" + std::string(name));
            }
            closedir(listing);
        }
    }
    return dropIns;
}

}  // namespace

std::optional<std::string> ParseUnitDescription(std::string_view unitText) {
    // A byte order mark may open the file.
    if (unitText.substr(0, 3) == "\xEF\xBB\xBF") unitText.remove_prefix(3);
    std::optional<std::string> description;
    bool inUnitSection = false;
    std::string logical;
    while (!unitText.empty()) {
        const size_t newline = unitText.find('\n');
        std::string_view line = unitText.substr(0, newline);
        unitText.remove_prefix(newline == std::string_view::npos ? unitText.size() : newline + 1);

        // Comment lines are skipped, also between continued lines.
        if (IsComment(Trim(line))) continue;
        if (EndsInContinuation(line)) {
            logical.append(line.substr(0, line.size() - 1));
            logical.push_back(' ');
            if (!unitText.empty()) continue;
        } else {
            logical.append(line);
        }

        const std::string_view entry = Trim(logical);
        if (!entry.empty() && entry.front() == '[') {
            inUnitSection = entry == "[Unit]";
        } else if (inUnitSection) {
            const size_t equals = entry.find('=');
            if (equals != std::string_view::npos && Trim(entry.substr(0, equals)) == "Description")
                description = std::string(Trim(entry.substr(equals + 1)));
        }
        logical.clear();
    }
    return description;
}

std::string ExpandUnitSpecifiers(std::string_view text, std::string_view unitName) {
    const size_t dot = unitName.rfind('.');
    const std::string_view stem = unitName.substr(0, dot);
    const size_t at = stem.find('@');
    const std::string_view prefix = stem.substr(0, at);
    const std::string_view instance = at == std::string_view::npos ? std::string_view() : stem.substr(at + 1);

    std::string out;
    out.reserve(text.size());
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '%' || index + 1 == text.size()) {
            out.push_back(text[index]);
            continue;
        }
        const char specifier = text[index + 1];
        switch (specifier) {
            case '%': out.push_back('%'); break;
            case 'n': out.append(unitName); break;
            case 'N': out.append(stem); break;
            case 'p': out.append(prefix); break;
            case 'P': out.append(Unescape(prefix)); break;
            case 'i': out.append(instance); break;
            case 'I': out.append(Unescape(instance)); break;
            case 'f': out.append(UnescapedPath(instance.empty() ? prefix : instance)); break;
            default:
                out.push_back('%');
                out.push_back(specifier);
                break;
        }
        ++index;
    }
    return out;
}

std::optional<std::string> ReadUnitDescription(const std::string& unitName) {
    std::vector<std::string> names{unitName};
    const size_t at = unitName.find('@');
    if (at != std::string::npos) names.push_back(unitName.substr(0, at + 1) + unitName.substr(unitName.rfind('.')));

    // An instance without a unit file of its own is built from its template.
    std::optional<std::string> unitFile = FindUnitFile(unitName);
    if (!unitFile && names.size() > 1) unitFile = FindUnitFile(names[1]);

    std::optional<std::string> description;
    if (unitFile) {
        if (auto text = ReadUnitFile(*unitFile)) description = ParseUnitDescription(*text);
    }
    // Drop-ins apply in the lexical order of their file names; the last
    // Description= wins.
    for (const auto& dropIn : FindDropIns(names)) {
        auto text = ReadUnitFile(dropIn.second);
        if (!text) continue;
        if (auto value = ParseUnitDescription(*text)) description = std::move(value);
    }
    if (!description || description->empty()) return std::nullopt;
    return ExpandUnitSpecifiers(*description, unitName);
}

}  // namespace lystrel::layer
