// riscv64, ppc64el and s390x only: the architecture's own counter, and
// never an x86 source (under an emulator the clock source is the host's).
#include <gtest/gtest.h>

#include "timing/timers.h"

namespace tavro {
namespace {

#if defined(__riscv)
constexpr timer_source own_source = timer_source::riscv_timer;
#elif defined(__powerpc64__)
constexpr timer_source own_source = timer_source::timebase;
#else
constexpr timer_source own_source = timer_source::tod_clock;
#endif

TEST(OwnCounter, InvariantAtItsRateAndNeverAnX86Source) {
    const tsc_info counter = read_tsc_info();
    EXPECT_TRUE(counter.invariant);
    EXPECT_EQ(counter.crystal_hz, 0u);
#if defined(__s390x__)
    EXPECT_EQ(counter.tsc_hz, 4'096'000'000u);
#endif
    const timer_info fast = fast_timer::info();
    EXPECT_TRUE(fast.source == own_source || fast.source == timer_source::unknown)
        << timer_source_name(fast.source);
    if (fast.source == own_source) {
        EXPECT_EQ(static_cast<std::uint64_t>(fast.underlying_hz), counter.tsc_hz);
    }
}

}  // namespace
}  // namespace tavro
