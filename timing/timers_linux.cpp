#include "timing/timers.h"

#include <time.h>

#include <fstream>
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

}  // namespace

std::int64_t fast_timer::now() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return to_nanoseconds(time);
}

timer_info fast_timer::info() {
    const std::int64_t tick_hz = tick_hz_from_resolution(coarse_resolution_ns());
    timer_info info = linux_clocksource_timer(current_clocksource(), tick_hz);
    info.report_hz = nanoseconds_per_second;
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
