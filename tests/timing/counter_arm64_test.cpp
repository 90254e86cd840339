// 64-bit Arm only: the generic timer of this machine.
#include "timing/timers.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(GenericTimer, InvariantAtItsFrequencyAndNeverAnX86Source) {
    const tsc_info counter = read_tsc_info();
    EXPECT_TRUE(counter.invariant);
    EXPECT_GT(counter.tsc_hz, 0u);
    EXPECT_EQ(counter.crystal_hz, 0u);
    const timer_info fast = fast_timer::info();
    EXPECT_TRUE(fast.source == timer_source::generic_timer || fast.source == timer_source::unknown)
        << timer_source_name(fast.source);
    if (fast.source == timer_source::generic_timer) {
        EXPECT_EQ(static_cast<std::uint64_t>(fast.underlying_hz), counter.tsc_hz);
    }
}

}  // namespace
}  // namespace tavro
