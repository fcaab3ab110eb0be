// The service unit of a process, from its control group path.
#include "cgroup_unit.h"

#include <cstddef>

namespace lystrel::layer {
namespace {

constexpr std::string_view kServiceSuffix = ".service";
constexpr std::string_view kSliceSuffix = ".slice";
// systemd limits unit names to 255 bytes.
constexpr size_t kMaxUnitName = 255;

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool IsUnitNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
           c == '-' || c == '_' || c == '.' || c == '\\' || c == '@';
}

// The service unit that a control group path lies in, or none.
std::optional<std::string> ServiceInPath(std::string_view path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    path.remove_prefix(1);
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        if (!EndsWith(component, kSliceSuffix) || component.size() == kSliceSuffix.size()) {
            if (IsServiceUnitName(component)) return std::string(component);
            return std::nullopt;
        }
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return std::nullopt;
}

bool ListsController(std::string_view controllers, std::string_view wanted) {
    while (true) {
        const size_t comma = controllers.find(',');
        if (controllers.substr(0, comma) == wanted) return true;
        if (comma == std::string_view::npos) return false;
        controllers.remove_prefix(comma + 1);
    }
}

}  // namespace

bool IsServiceUnitName(std::string_view name) {
    if (name.size() > kMaxUnitName || !EndsWith(name, kServiceSuffix)) return false;
    const std::string_view stem = name.substr(0, name.size() - kServiceSuffix.size());
    if (stem.empty()) return false;
    for (char c : stem)
        if (!IsUnitNameByte(c)) return false;
    // A template instance needs both a template name and an instance; a bare
    // template ("getty@.service") never runs.
    const size_t at = stem.find('@');
    if (at != std::string_view::npos &&
        (at == 0 || at + 1 == stem.size() || stem.find('@', at + 1) != std::string_view::npos))
        return false;
    return true;
}

std::optional<std::string> ParseCgroupServiceUnit(std::string_view cgroupText) {
    std::optional<std::string_view> legacyPath;
    std::optional<std::string_view> unifiedPath;
    while (!cgroupText.empty()) {
        const size_t newline = cgroupText.find('\n');
        std::string_view line = cgroupText.substr(0, newline);
        cgroupText.remove_prefix(newline == std::string_view::npos ? cgroupText.size() : newline + 1);

        // "ID:CONTROLLERS:PATH"; the path may itself hold colons.
        const size_t first = line.find(':');
        if (first == std::string_view::npos || first == 0) continue;
        const size_t second = line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        const std::string_view id = line.substr(0, first);
        bool digits = true;
        for (char c : id) digits = digits && c >= '0' && c <= '9';
        if (!digits) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (id == "0" && controllers.empty()) {
            if (!unifiedPath) unifiedPath = path;
        } else if (ListsController(controllers, "name=systemd")) {
            if (!legacyPath) legacyPath = path;
        }
    }
    // On v1 and hybrid systems systemd tracks its units in the name=systemd
    // hierarchy. A v2 system may still mount one for old containers, with
    // every process at its root: then the unified line names the service.
    if (legacyPath) {
        if (auto unit = ServiceInPath(*legacyPath)) return unit;
    }
    if (unifiedPath) return ServiceInPath(*unifiedPath);
    return std::nullopt;
}

}  // namespace lystrel::layer
