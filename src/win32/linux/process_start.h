// When processes started and when the machine booted, from /proc. Linux
// records no opening time for a socket; the layer gives the start time of
// the process that holds it instead. This header includes only standard
// headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace lystrel::layer {

/// FILETIME of 1970-01-01 00:00 UTC: 100-ns intervals since 1601.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;

/// Field 22 (starttime, in clock ticks since boot) of a /proc/PID/stat text.
/// Fields are counted after the last ')', so a command name holding ") "
/// cannot shift them. None for a truncated or malformed text.
std::optional<uint64_t> ParseStartTicks(std::string_view stat);

/// The "btime" value of a /proc/stat text: the boot time in seconds since
/// 1970. None when the line is missing or malformed.
std::optional<uint64_t> ParseBootTime(std::string_view procStat);

/// The FILETIME of `ticks` clock ticks after a boot at `bootSeconds`
/// (seconds since 1970). Saturates instead of wrapping.
uint64_t FileTimeAfterBoot(uint64_t bootSeconds, uint64_t ticks, uint64_t ticksPerSecond);

/// The clock ticks per second of /proc/PID/stat times.
uint64_t ClockTicksPerSecond();

/// The boot time read from /proc/stat under the layer's root.
std::optional<uint64_t> ReadBootTime();

/// The start ticks read from /proc/PID/stat under the layer's root.
std::optional<uint64_t> ReadStartTicks(uint32_t pid);

}  // namespace lystrel::layer
