#include "timing/timers.h"

#include <time.h>

#include <fstream>
#include <limits>
#include <string>

namespace tavro {

namespace {

constexpr std::int64_t nanoseconds_per_second = 1'000'000'000;

std::int64_t to_nanoseconds(const timespec& time) {
    return std::int64_t{time.tv_sec} * nanoseconds_per_second + time.tv_nsec;
}

// Empty when sysfs is not mounted or the file cannot be read.
std::string current_clocksource() {
    std::ifstream file("/sys/devices/system/clocksource/clocksource0/current_clocksource");
    std::string name;
    if (!(file >> name)) {
        return {};
    }
    return name;
}

std::int64_t coarse_resolution_ns() {
    timespec resolution{};
    if (clock_getres(CLOCK_MONOTONIC_COARSE, &resolution) != 0) {
        return 0;
    }
    return to_nanoseconds(resolution);
}

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

std::int64_t fast_timer::now() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return to_nanoseconds(time);
}

timer_info fast_timer::info() {
    const tsc_info tsc = read_tsc_info();
    const std::string source = current_clocksource();
    const std::int64_t tsc_hz = source == "tsc" ? tsc_rate(tsc) : 0;
    const std::int64_t tick_hz = tick_hz_from_resolution(coarse_resolution_ns());
    timer_info info;
    info.report_hz = nanoseconds_per_second;
    info.underlying_hz = clocksource_hz(source, tsc_hz, tick_hz);
    info.source = classify_timer_source(info.underlying_hz, tsc);
    return info;
}

std::uint64_t coarse_timer::now() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * 1000 +
           static_cast<std::uint64_t>(time.tv_nsec / 1'000'000);
}

timer_info coarse_timer::info() {
    timer_info info;
    info.report_hz = 1000;
    info.underlying_hz = tick_hz_from_resolution(coarse_resolution_ns());
    return info;
}

}  // namespace tavro
