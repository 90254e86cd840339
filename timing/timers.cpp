#include "timing/timers.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "machine/text_file.h"

namespace tavro {

namespace {

constexpr std::array<std::string_view, 11> source_names = {
    "unknown", "TSC",           "iTSC",         "HPET",     "ACPI",     "PIT",
    "RTC",     "generic timer", "RISC-V timer", "timebase", "TOD clock"};

// Fixed by the ACPI standard for the power-management timer.
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

bool is_jiffies(std::string_view clocksource) {
    return clocksource == "jiffies" || clocksource == "refined-jiffies";
}

// "hpet" for the legacy channel, "hpet2" and so on for the channels that
// interrupt on their own.
bool is_hpet_device(std::string_view name) {
    if (!name.starts_with("hpet")) {
        return false;
    }
    name.remove_prefix(4);
    return std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
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

timer_info x86_clocksource_timer(std::string_view clocksource, const tsc_info& tsc,
                                 std::int64_t tsc_hz, std::int64_t tick_hz, std::int64_t hpet_hz) {
    timer_info info;
    if (clocksource == "tsc") {
        info.underlying_hz = tsc_hz;
        info.source = tsc.invariant ? timer_source::itsc : timer_source::tsc;
    } else if (clocksource == "hpet") {
        info.underlying_hz = hpet_hz;
        info.source = timer_source::hpet;
    } else if (clocksource == "acpi_pm") {
        info.underlying_hz = acpi_pm_hz;
        info.source = timer_source::acpi;
    } else if (is_jiffies(clocksource)) {
        info.underlying_hz = tick_hz;
    } else {
        // A paravirtual clock reads the host's counter through a scale the
        // host sets; what it counts is nanoseconds.
        info.underlying_hz = nanosecond_hz;
    }
    return info;
}

timer_info arm64_clocksource_timer(std::string_view clocksource, std::uint64_t cntfrq_hz,
                                   std::int64_t tick_hz) {
    return own_counter_clocksource_timer(clocksource, "arch_sys_counter",
                                         timer_source::generic_timer, cntfrq_hz, tick_hz);
}

timer_info own_counter_clocksource_timer(std::string_view clocksource,
                                         std::string_view counter_name, timer_source source,
                                         std::uint64_t counter_hz, std::int64_t tick_hz) {
    constexpr auto largest = std::uint64_t{std::numeric_limits<std::int64_t>::max()};
    timer_info info;
    if (clocksource == counter_name) {
        info.underlying_hz = static_cast<std::int64_t>(std::min(counter_hz, largest));
        info.source = source;
    } else if (is_jiffies(clocksource)) {
        info.underlying_hz = tick_hz;
    } else {
        info.underlying_hz = nanosecond_hz;
    }
    return info;
}

std::int64_t timer_list_hpet_hz(std::string_view timer_list) {
    // Each device: "Clock Event Device: NAME", then " mult:" and " shift:"
    // lines among its values, which end at the next blank line.
    std::optional<std::uint64_t> mult;
    std::optional<std::uint64_t> shift;
    bool in_hpet = false;
    while (!timer_list.empty()) {
        const std::size_t line_end = std::min(timer_list.find('\n'), timer_list.size());
        const std::string_view line = timer_list.substr(0, line_end);
        timer_list.remove_prefix(std::min(line_end + 1, timer_list.size()));
        const std::size_t colon = line.find(':');
        const std::string_view key = trim_blanks(line.substr(0, colon));
        const std::string_view value = colon == std::string_view::npos
                                           ? std::string_view{}
                                           : trim_blanks(line.substr(colon + 1));
        if (key == "Clock Event Device") {
            in_hpet = is_hpet_device(value);
        } else if (key.empty()) {
            in_hpet = false;
        } else if (in_hpet && key == "mult") {
            mult = parse_number<std::uint64_t>(value);
        } else if (in_hpet && key == "shift") {
            shift = parse_number<std::uint64_t>(value);
        }
        if (mult && shift) {
            break;
        }
    }
    // The kernel stores mult = rate x 2^shift / 1e9, rounded, with a shift
    // of at most 32; a 128-bit product holds any 64-bit mult.
    if (!mult || !shift || *mult == 0 || *shift >= 64) {
        return 0;
    }
    using wide_unsigned = unsigned __int128;
    constexpr auto largest = static_cast<wide_unsigned>(std::numeric_limits<std::int64_t>::max());
    const wide_unsigned scaled = wide_unsigned{*mult} * nanosecond_hz;
    const wide_unsigned hz = (scaled + (wide_unsigned{1} << *shift >> 1)) >> *shift;
    return static_cast<std::int64_t>(std::min(hz, largest));
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
