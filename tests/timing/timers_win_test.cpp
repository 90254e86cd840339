#include "timing/timers.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(Clocks, ThisMachinesClockInfo) {
    const timer_info fast = fast_timer::info();
    // The performance counter is its own hardware rate.
    EXPECT_GT(fast.report_hz, 0);
    EXPECT_EQ(fast.underlying_hz, fast.report_hz);
    const timer_info coarse = coarse_timer::info();
    EXPECT_EQ(coarse.report_hz, 1000);
    EXPECT_GT(coarse.underlying_hz, 0);
    EXPECT_EQ(coarse.source, timer_source::unknown);
}

}  // namespace
}  // namespace tavro
