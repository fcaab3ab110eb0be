// Reads process start times and the boot time from /proc.
#include "process_start.h"

#include <unistd.h>

#include <string>

#include "layer.h"
#include "proc_file.h"

namespace lystrel::layer {
namespace {

constexpr uint64_t kFileTimePerSecond = 10000000ull;

std::optional<uint64_t> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    uint64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}

uint64_t SaturatingMultiply(uint64_t a, uint64_t b) {
    uint64_t product;
    return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

}  // namespace

std::optional<uint64_t> ParseStartTicks(std::string_view stat) {
    const size_t close = stat.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    // After the command name come field 3 (state) onwards; starttime is field 22.
    constexpr int kStartTimeIndex = 22 - 3;
    for (int index = 0;; ++index) {
        size_t begin = 0;
        while (begin < rest.size() && rest[begin] == ' ') ++begin;
        size_t end = begin;
        while (end < rest.size() && rest[end] != ' ' && rest[end] != '\n') ++end;
        if (begin == end) return std::nullopt;
        if (index == kStartTimeIndex) return ParseDecimal(rest.substr(begin, end - begin));
        rest.remove_prefix(end);
    }
}

std::optional<uint64_t> ParseBootTime(std::string_view procStat) {
    constexpr std::string_view kLabel = "btime ";
    while (!procStat.empty()) {
        const size_t end = procStat.find('\n');
        std::string_view line = procStat.substr(0, end);
        procStat.remove_prefix(end == std::string_view::npos ? procStat.size() : end + 1);
        if (line.substr(0, kLabel.size()) != kLabel) continue;
        line.remove_prefix(kLabel.size());
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
        return ParseDecimal(line);
    }
    return std::nullopt;
}

uint64_t FileTimeAfterBoot(uint64_t bootSeconds, uint64_t ticks, uint64_t ticksPerSecond) {
    if (ticksPerSecond == 0) ticksPerSecond = 100;
    const uint64_t seconds = SaturatingAdd(bootSeconds, ticks / ticksPerSecond);
    // The product is taken in 128 bits: with a large tick rate it would wrap
    // in 64, and the fraction is below one second's worth either way.
    const uint64_t fraction = static_cast<uint64_t>(
        static_cast<unsigned __int128>(ticks % ticksPerSecond) * kFileTimePerSecond / ticksPerSecond);
    return SaturatingAdd(SaturatingAdd(kUnixEpochFileTime, SaturatingMultiply(seconds, kFileTimePerSecond)),
                         fraction);
}

uint64_t ClockTicksPerSecond() {
    static const uint64_t ticks = [] {
        const long value = sysconf(_SC_CLK_TCK);
        return value > 0 ? static_cast<uint64_t>(value) : 100u;
    }();
    return ticks;
}

std::optional<uint64_t> ReadBootTime() {
    std::string text;
    if (!ReadWholeFile(HostPath("/proc/stat"), text, 1u << 20)) return std::nullopt;
    return ParseBootTime(text);
}

std::optional<uint64_t> ReadStartTicks(uint32_t pid) {
    std::string text;
    if (!ReadWholeFile(HostPath("/proc/" + std::to_string(pid) + "/stat"), text, 4096)) return std::nullopt;
    return ParseStartTicks(text);
}

}  // namespace lystrel::layer
