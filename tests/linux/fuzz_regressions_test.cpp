// Inputs that fuzzing found mishandled, kept so that the fixes stay.
#include <gtest/gtest.h>

#include <cstdint>

#include "process_start.h"

namespace {

using namespace lystrel::layer;

// With a tick rate above about 1.8e12 per second, the part of a second left
// over was multiplied in 64 bits and wrapped, so that a later tick could give
// an earlier time.
TEST(FuzzRegressions, FileTimeAfterBootStaysMonotonicWithLargeTickRates) {
    struct Case {
        const char* name;
        uint64_t ticks;
        uint64_t ticksPerSecond;
    } cases[] = {
        {"huge rate", 0xFFFFFFFFFFFFFFEEull, 0xFFFFFFFFFFFFFFEFull},
        {"rate just past the 64-bit product", 1844674407371ull, 1844674407372ull},
        {"half a second at a huge rate", 0x7FFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFEull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t before = FileTimeAfterBoot(1700000000, c.ticks - 1, c.ticksPerSecond);
        const uint64_t after = FileTimeAfterBoot(1700000000, c.ticks, c.ticksPerSecond);
        EXPECT_LE(before, after);
        // Less than a whole second after boot, the time lies within that second.
        const uint64_t boot = kUnixEpochFileTime + 1700000000ull * 10000000ull;
        EXPECT_GE(after, boot);
        EXPECT_LT(after, boot + 10000000ull);
    }
    // Half of a second, however many ticks make it.
    EXPECT_EQ(kUnixEpochFileTime + 5000000ull, FileTimeAfterBoot(0, 0x7FFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFEull));
}

}  // namespace
