#include "timing/timers.h"

#include <algorithm>
#include <array>
#include <limits>

namespace tavro {

namespace {

constexpr std::array<std::string_view, 8> source_names = {
    "unknown", "TSC", "iTSC", "HPET", "ACPI", "PIT", "RTC", "generic timer"};

constexpr std::int64_t hpet_hz = 14'318'180;
constexpr std::int64_t acpi_pm_hz = 3'579'545;
constexpr std::int64_t nanosecond_hz = 1'000'000'000;

// Wide enough for every difference and product below, so no input can overflow.
using wide = __int128;

std::int64_t clamp_to_int64(wide value) {
    constexpr wide lowest = std::numeric_limits<std::int64_t>::min();
    constexpr wide largest = std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(value < lowest ? lowest : (value > largest ? largest : value));
}

// Whole seconds plus the scaled remainder, both truncated toward zero; the
// result saturates where even the converted value does not fit in 64 bits.
std::int64_t elapsed_in_units(const timer_info& info, std::int64_t start, std::int64_t end,
                              std::int64_t units_per_second) {
    if (info.report_hz <= 0) {
        return 0;
    }
    const wide difference = wide{end} - start;
    const wide whole = difference / info.report_hz;
    const wide rest = difference % info.report_hz;
    return clamp_to_int64(whole * units_per_second + rest * units_per_second / info.report_hz);
}

bool within(std::int64_t a, std::int64_t b, std::int64_t tolerance) {
    const wide difference = wide{a} - b;
    return (difference < 0 ? -difference : difference) < tolerance;
}

}  // namespace

std::string_view timer_source_name(timer_source source) {
    const auto code = static_cast<std::size_t>(source);
    return code < source_names.size() ? source_names[code] : source_names[0];
}

tsc_info decode_tsc_info(const cpuid_snapshot& regs) {
    tsc_info info;
    // Checked against the highest extended leaf: past it some processors
    // answer with another leaf's data, whose bit 8 means nothing here.
    if (regs.max_extended_leaf() >= 0x8000'0007) {
        info.invariant = ((regs.get(0x8000'0007).edx >> 8) & 1u) != 0;
    }
    std::uint64_t denominator = 0;
    std::uint64_t numerator = 0;
    if (regs.max_leaf() >= 0x15) {
        const cpuid_regs leaf = regs.get(0x15);
        denominator = leaf.eax;
        numerator = leaf.ebx;
        info.crystal_hz = leaf.ecx;
    }
    std::uint64_t base_mhz = 0;
    if (regs.max_leaf() >= 0x16) {
        base_mhz = regs.get(0x16).eax & 0xFFFF;
    }
    // Two 32-bit factors cannot overflow the 64-bit product.
    if (info.crystal_hz != 0 && numerator != 0 && denominator != 0) {
        info.tsc_hz = info.crystal_hz * numerator / denominator;
    } else {
        info.tsc_hz = base_mhz * 1'000'000;
    }
    return info;
}

timer_source classify_timer_source(std::int64_t hz, const tsc_info& tsc) {
    if (hz == 1'193'182) {
        return timer_source::pit;
    }
    if (hz == 32'000'000 || hz == 32'768'000) {
        return timer_source::rtc;
    }
    if (hz >= 3'579'000 && hz <= 3'579'999) {
        return timer_source::acpi;
    }
    if (hz >= 143'100'001 && hz <= 143'299'999) {
        return timer_source::hpet;
    }
    const timer_source counter = tsc.invariant ? timer_source::itsc : timer_source::tsc;
    // A nominal frequency beyond the signed range is no frequency any counter runs at.
    if (tsc.tsc_hz != 0 && tsc.tsc_hz <= std::uint64_t{std::numeric_limits<std::int64_t>::max()}) {
        const auto tsc_hz = static_cast<std::int64_t>(tsc.tsc_hz);
        if (within(hz, tsc_hz, 1'000'000) || within(hz, tsc_hz / 1024, 100'000)) {
            return counter;
        }
    }
    if (hz >= 100'000'000 || hz == 10'000'000) {
        return counter;
    }
    if (hz > 10'000'000) {
        return timer_source::hpet;
    }
    return timer_source::unknown;
}

std::int64_t clocksource_hz(std::string_view name, std::int64_t tsc_hz, std::int64_t tick_hz) {
    if (name == "tsc") {
        return tsc_hz;
    }
    if (name == "hpet") {
        return hpet_hz;
    }
    if (name == "acpi_pm") {
        return acpi_pm_hz;
    }
    if (name == "jiffies" || name == "refined-jiffies") {
        return tick_hz;
    }
    return nanosecond_hz;
}

timer_info arm64_clocksource_timer(std::string_view clocksource, std::uint64_t cntfrq_hz,
                                   std::int64_t tick_hz) {
    constexpr auto largest = std::uint64_t{std::numeric_limits<std::int64_t>::max()};
    timer_info info;
    info.underlying_hz = static_cast<std::int64_t>(std::min(cntfrq_hz, largest));
    if (clocksource == "arch_sys_counter") {
        info.source = timer_source::generic_timer;
    } else if (clocksource == "jiffies" || clocksource == "refined-jiffies") {
        info.underlying_hz = tick_hz;
    }
    return info;
}

std::int64_t tick_hz_from_resolution(std::int64_t resolution_ns) {
    return resolution_ns > 0 ? nanosecond_hz / resolution_ns : 0;
}

std::int64_t windows_tick_hz(std::optional<std::uint32_t> timer_resolution_100ns,
                             std::optional<std::uint32_t> time_increment_100ns) {
    constexpr std::int64_t intervals_per_second = 10'000'000;
    // A query that reports success with a zero interval tells nothing.
    for (const auto interval : {timer_resolution_100ns, time_increment_100ns}) {
        if (interval && *interval != 0) {
            return intervals_per_second / *interval;
        }
    }
    return 0;
}

std::int64_t elapsed_seconds(const timer_info& info, std::int64_t start, std::int64_t end) {
    return elapsed_in_units(info, start, end, 1);
}

std::int64_t elapsed_ms(const timer_info& info, std::int64_t start, std::int64_t end) {
    return elapsed_in_units(info, start, end, 1000);
}

std::int64_t elapsed_us(const timer_info& info, std::int64_t start, std::int64_t end) {
    return elapsed_in_units(info, start, end, 1'000'000);
}

bool timer_will_overflow(const timer_info& info, std::int64_t now, std::int64_t seconds) {
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const wide limit = info.report_hz > 0 ? (wide{largest} - now) / info.report_hz : largest;
    return seconds >= limit;
}

}  // namespace tavro
