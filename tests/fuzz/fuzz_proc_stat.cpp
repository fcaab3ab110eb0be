// Feeds arbitrary texts to the parsers of /proc/PID/stat and /proc/stat, and
// the values they give (or the input's first bytes) to the conversion of
// clock ticks after boot into a file time.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "process_start.h"

using namespace lystrel::layer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A private copy of exactly the text's size, so that any read past its
    // end is caught.
    const std::vector<char> copy(data, data + size);
    const std::string_view text(copy.data(), copy.size());

    const std::optional<uint64_t> ticks = ParseStartTicks(text);
    if (ticks && text.find(')') == std::string_view::npos) __builtin_trap();
    const std::optional<uint64_t> boot = ParseBootTime(text);
    if (boot && text.find("btime ") == std::string_view::npos) __builtin_trap();

    // A final newline, as the kernel writes one, changes neither result.
    const std::string terminated = std::string(text) + "\n";
    if (ParseStartTicks(terminated) != ticks) __builtin_trap();
    if (ParseBootTime(terminated) != boot) __builtin_trap();

    // The file time never lies before 1970 and never goes back as ticks grow.
    uint64_t values[3] = {};
    std::memcpy(values, data, size < sizeof values ? size : sizeof values);
    const uint64_t bootSeconds = boot ? *boot : values[0];
    const uint64_t startTicks = ticks ? *ticks : values[1];
    for (uint64_t ticksPerSecond : {uint64_t{100}, values[2]}) {
        const uint64_t time = FileTimeAfterBoot(bootSeconds, startTicks, ticksPerSecond);
        if (time < kUnixEpochFileTime) __builtin_trap();
        if (startTicks < UINT64_MAX && FileTimeAfterBoot(bootSeconds, startTicks + 1, ticksPerSecond) < time)
            __builtin_trap();
        if (bootSeconds < UINT64_MAX && FileTimeAfterBoot(bootSeconds + 1, startTicks, ticksPerSecond) < time)
            __builtin_trap();
    }
    return 0;
}
