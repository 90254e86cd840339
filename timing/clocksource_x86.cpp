// What drives the Linux monotonic clock on x86 (timing/timers.h): the clock
// source's rate, classified by the frequency bands of the timer rule.
#include "timing/timers.h"

#include <time.h>

#include <limits>

namespace tavro {

namespace {

// The time-stamp counter's rate measured against the monotonic clock over
// about 10 ms, for processors that do not state their counter frequency.
std::int64_t measure_tsc_hz() {
    const std::int64_t start_ns = fast_timer::now();
    const std::uint64_t start_ticks = read_tsc();
    const timespec pause{0, 10'000'000};
    nanosleep(&pause, nullptr);
    const std::int64_t end_ns = fast_timer::now();
    const std::uint64_t end_ticks = read_tsc();
    if (end_ns <= start_ns || end_ticks <= start_ticks) {
        return 0;
    }
    const double hz =
        static_cast<double>(end_ticks - start_ticks) * 1e9 / static_cast<double>(end_ns - start_ns);
    return static_cast<std::int64_t>(hz + 0.5);
}

std::int64_t tsc_rate(const tsc_info& tsc) {
    if (tsc.tsc_hz != 0 && tsc.tsc_hz <= std::uint64_t{std::numeric_limits<std::int64_t>::max()}) {
        return static_cast<std::int64_t>(tsc.tsc_hz);
    }
    return measure_tsc_hz();
}

}  // namespace

timer_info linux_clocksource_timer(std::string_view clocksource, std::int64_t tick_hz) {
    const tsc_info tsc = read_tsc_info();
    const std::int64_t tsc_hz = clocksource == "tsc" ? tsc_rate(tsc) : 0;
    timer_info info;
    info.underlying_hz = clocksource_hz(clocksource, tsc_hz, tick_hz);
    info.source = classify_timer_source(info.underlying_hz, tsc);
    return info;
}

}  // namespace tavro
