#include "timing/timers.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "timing/timer_report.h"

namespace tavro {
namespace {

TEST(Clocks, ThisMachinesClockInfo) {
    const timer_info fast = fast_timer::info();
    EXPECT_EQ(fast.report_hz, 1'000'000'000);
    EXPECT_GE(fast.underlying_hz, 0);
    // Only the kernel's own "tsc" clock source is a time-stamp counter; a
    // paravirtual clock such as kvm-clock is not, nor is any source read
    // under an emulator.
    std::ifstream file("/sys/devices/system/clocksource/clocksource0/current_clocksource");
    std::string clocksource;
    file >> clocksource;
    if (clocksource != "tsc") {
        EXPECT_NE(fast.source, timer_source::tsc) << clocksource;
        EXPECT_NE(fast.source, timer_source::itsc) << clocksource;
    }
    const timer_info coarse = coarse_timer::info();
    EXPECT_EQ(coarse.report_hz, 1000);
    EXPECT_GE(coarse.underlying_hz, 0);
    EXPECT_EQ(coarse.source, timer_source::unknown);
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
