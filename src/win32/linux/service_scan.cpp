// One pass over /proc/PID/cgroup, naming each process's service.
#include "service_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "cgroup_unit.h"
#include "fault_injection.h"
#include "layer.h"
#include "unit_files.h"

namespace lystrel::layer {
namespace {

// No control group file is longer than this; a longer one is read in part
// and its cut line does not name a service.
constexpr size_t kMaxCgroupFileSize = 64 * 1024;

std::optional<uint32_t> ParsePid(const char* name) {
    uint64_t value = 0;
    if (*name == '\0') return std::nullopt;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(*name - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    if (value == 0) return std::nullopt;
    return static_cast<uint32_t>(value);
}

// Reads up to `buffer`'s size of a small file; none when it cannot be opened.
std::optional<std::string_view> ReadSmallFile(const std::string& path, std::vector<char>& buffer) {
    const int fd = Faulted(Fault::CgroupFileOpen) ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    size_t filled = 0;
    while (filled < buffer.size()) {
        const ssize_t got =
            Faulted(Fault::CgroupFileRead) ? -1 : read(fd, buffer.data() + filled, buffer.size() - filled);
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    close(fd);
    return std::string_view(buffer.data(), filled);
}

struct ServiceNames {
    std::string serviceName;
    std::string displayName;
};

}  // namespace

std::vector<ServiceProcess> ScanServiceProcesses() {
    std::vector<ServiceProcess> processes;
    struct stat status;
    if (Faulted(Fault::SystemdCheck) || stat(HostPath("/run/systemd/system").c_str(), &status) != 0 ||
        !S_ISDIR(status.st_mode))
        return processes;

    const std::string procDirectory = HostPath("/proc");
    DIR* listing = Faulted(Fault::ServiceProcListing) ? nullptr : opendir(procDirectory.c_str());
    if (listing == nullptr) return processes;

    // Many processes share a service; each unit's files are read once.
    std::unordered_map<std::string, ServiceNames> namesByUnit;
    std::string path;
    std::vector<char> buffer(kMaxCgroupFileSize);
    while (const dirent* entry = Faulted(Fault::ServiceProcEntry) ? nullptr : readdir(listing)) {
        const std::optional<uint32_t> pid = ParsePid(entry->d_name);
        if (!pid) continue;
        path.assign(procDirectory).append("/").append(entry->d_name).append("/cgroup");
        // A process that has ended since the listing is simply not there.
        const std::optional<std::string_view> text = ReadSmallFile(path, buffer);
        if (!text) continue;
        std::optional<std::string> unit = ParseCgroupServiceUnit(*text);
        if (!unit) continue;

        auto found = namesByUnit.find(*unit);
        if (found == namesByUnit.end()) {
            const std::string serviceName = unit->substr(0, unit->size() - std::string_view(".service").size());
            const std::optional<std::string> description = ReadUnitDescription(*unit);
            ServiceNames names;
            names.serviceName = EscapeControlBytes(serviceName);
            names.displayName = EscapeControlBytes(description ? *description : serviceName);
            found = namesByUnit.emplace(*unit, std::move(names)).first;
        }
        processes.push_back(ServiceProcess{*pid, found->second.serviceName, found->second.displayName});
    }
    closedir(listing);

    std::sort(processes.begin(), processes.end(), [](const ServiceProcess& a, const ServiceProcess& b) {
        if (a.serviceName != b.serviceName) return a.serviceName < b.serviceName;
        return a.pid < b.pid;
    });
    return processes;
}

}  // namespace lystrel::layer
