#include "timing/timers.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "timing/timer_report.h"

namespace tavro {
namespace {

TEST(Clocks, ThisMachinesClocksRunTogether) {
    const timer_info fast = fast_timer::info();
    EXPECT_EQ(fast.report_hz, 1'000'000'000);
    EXPECT_GT(fast.underlying_hz, 0);
    const timer_info coarse = coarse_timer::info();
    EXPECT_EQ(coarse.report_hz, 1000);
    EXPECT_GE(coarse.underlying_hz, 0);
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
    // Both follow the same kernel timekeeping; the coarse one lags by up to a tick.
    EXPECT_LE(std::abs(fast_ms - coarse_ms), 31) << fast_ms << " vs " << coarse_ms;
}

TEST(TimerDiagnostics, LinuxClocksCountNanosecondsAndAreAlwaysCompliant) {
    std::ostringstream out;
    print_timer_diagnostics(out);
    const std::string text = out.str();
    EXPECT_NE(text.find("report frequency: 1.00 GHz\nCoarse timer: \n"), std::string::npos);
    EXPECT_NE(text.find("Fast timer is hwbot compliant\n"), std::string::npos);
}

}  // namespace
}  // namespace tavro
