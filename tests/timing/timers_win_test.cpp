#include "timing/timers.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(Clocks, ThisMachinesClocksRunTogether) {
    const timer_info fast = fast_timer::info();
    // The performance counter is its own hardware rate.
    EXPECT_GT(fast.report_hz, 0);
    EXPECT_EQ(fast.underlying_hz, fast.report_hz);
    const timer_info coarse = coarse_timer::info();
    EXPECT_EQ(coarse.report_hz, 1000);
    EXPECT_GT(coarse.underlying_hz, 0);
    EXPECT_EQ(coarse.source, timer_source::unknown);

    const std::int64_t fast_start = fast_timer::now();
    const std::uint64_t coarse_start = coarse_timer::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::int64_t fast_end = fast_timer::now();
    const std::uint64_t coarse_end = coarse_timer::now();
    ASSERT_GE(coarse_end, coarse_start);
    const std::int64_t fast_ms = elapsed_ms(fast, fast_start, fast_end);
    const auto coarse_ms = static_cast<std::int64_t>(coarse_end - coarse_start);
    EXPECT_GE(fast_ms, 50);
    // The tick count lags by up to one timer interval (15.625 ms at the slowest).
    EXPECT_LE(std::abs(fast_ms - coarse_ms), 31) << fast_ms << " vs " << coarse_ms;
}

}  // namespace
}  // namespace tavro
