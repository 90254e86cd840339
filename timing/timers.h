#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "machine/cpu/cpuid.h"

namespace tavro {

/// The hardware behind the fast timer.
enum class timer_source : std::uint8_t {
    unknown = 0,
    tsc = 1,   ///< time-stamp counter, not invariant
    itsc = 2,  ///< invariant time-stamp counter
    hpet = 3,
    acpi = 4,
    pit = 5,
    rtc = 6,
    generic_timer = 7,  ///< the 64-bit Arm architected generic timer
    riscv_timer = 8,    ///< the RISC-V time counter, at the device tree's timebase
    timebase = 9,       ///< the POWER time base
    tod_clock = 10,     ///< the z/Architecture time-of-day clock
};

/// "unknown", "TSC", "iTSC", "HPET", "ACPI", "PIT", "RTC", "generic
/// timer", "RISC-V timer", "timebase" or "TOD clock"; codes above 10 give
/// "unknown".
std::string_view timer_source_name(timer_source source);

/// What is known about one clock.
struct timer_info {
    /// Counter units per second of the value that now() returns.
    std::int64_t report_hz = 0;
    /// Rate of the hardware or interrupt behind the counter; 0 when unknown.
    std::int64_t underlying_hz = 0;
    timer_source source = timer_source::unknown;
};

/// The time-stamp counter as the processor describes it; on the other
/// architectures their own constant-rate counter, invariant by architecture:
/// 64-bit Arm's generic timer at CNTFRQ_EL0, the RISC-V time counter at the
/// device tree's timebase-frequency, the POWER time base at the kernel's
/// "timebase", the s390x TOD clock at 4.096 GHz (0 Hz where not told).
struct tsc_info {
    bool invariant = false;
    /// Nominal counter frequency in Hz; 0 when the processor does not tell.
    std::uint64_t tsc_hz = 0;
    /// Core crystal clock in Hz; 0 when not told.
    std::uint64_t crystal_hz = 0;
};

/// Decodes tsc_info from captured CPUID registers (leaves 0, 0x15, 0x16 and
/// 0x80000007). The nominal frequency is crystal x numerator / denominator
/// from leaf 0x15 when all three are known, else leaf 0x16's base MHz.
tsc_info decode_tsc_info(const cpuid_snapshot& regs);

/// The tsc_info of the processor this runs on. Read by this architecture's
/// file (counter_x86.cpp: CPUID; counter_arm64.cpp: CNTFRQ_EL0; and
/// counter_riscv64.cpp, counter_ppc64el.cpp, counter_s390x.cpp).
tsc_info read_tsc_info();

/// Names the source of a counter running at hz counts per second, given what
/// the processor says about its time-stamp counter.
timer_source classify_timer_source(std::int64_t hz, const tsc_info& tsc);

/// The underlying rate and source of the Linux monotonic clock on x86 when
/// the kernel keeps time with `clocksource` (its current clock source, ""
/// when unknown); report_hz is left 0. "tsc" is the TSC, or the iTSC when
/// `tsc` says it is invariant, at tsc_hz (the counter's rate as stated or
/// measured; 0 when unknown). "hpet" is the HPET at hpet_hz, the rate the
/// kernel programmed (0 when it could not be read). "acpi_pm" is the ACPI
/// timer at its fixed 3.579545 MHz. "jiffies" and "refined-jiffies" are an
/// unknown source at tick_hz. Any other name (paravirtual clocks such as
/// "kvm-clock", "xen" or "hyperv_clocksource_tsc_page") is an unknown source
/// at the nanosecond rate the kernel gives it.
timer_info x86_clocksource_timer(std::string_view clocksource, const tsc_info& tsc,
                                 std::int64_t tsc_hz, std::int64_t tick_hz, std::int64_t hpet_hz);

/// The 64-bit Arm answer: "arch_sys_counter" is the generic timer at
/// `cntfrq_hz`; "jiffies" and "refined-jiffies" an unknown source at
/// tick_hz; any other name (under an emulator, the host's) an unknown source
/// at the nanosecond rate. Never an x86 source.
timer_info arm64_clocksource_timer(std::string_view clocksource, std::uint64_t cntfrq_hz,
                                   std::int64_t tick_hz);

/// The same rule for an architecture whose kernel keeps time with its own
/// counter, named `counter_name` ("riscv_clocksource", "timebase", "tod"):
/// that name is `source` at counter_hz (0 when unknown); "jiffies" and
/// "refined-jiffies" an unknown source at tick_hz; any other name an unknown
/// source at the nanosecond rate.
timer_info own_counter_clocksource_timer(std::string_view clocksource,
                                         std::string_view counter_name, timer_source source,
                                         std::uint64_t counter_hz, std::int64_t tick_hz);

/// The rate of the HPET as the kernel programmed it, from the text of
/// /proc/timer_list: the first clock event device named "hpet" or "hpetN",
/// at mult x 1e9 / 2^shift Hz, rounded. 0 when no such device is listed or
/// its values cannot be read.
std::int64_t timer_list_hpet_hz(std::string_view timer_list);

/// The underlying rate and source of the Linux monotonic clock when the
/// kernel keeps time with `clocksource`; report_hz is left 0. Reads this
/// processor's facts and applies its rule above (clocksource_x86.cpp,
/// clocksource_arm64.cpp, ...).
timer_info linux_clocksource_timer(std::string_view clocksource, std::int64_t tick_hz);

/// The tick rate of a clock with the given resolution in nanoseconds; 0 when
/// the resolution is 0 or negative (unknown).
std::int64_t tick_hz_from_resolution(std::int64_t resolution_ns);

/// The tick rate behind Windows' millisecond count, from the interval of
/// the system timer in units of 100 ns: the current timer resolution when
/// that query succeeded, else the clock increment when that one did. A
/// missing or zero interval gives way to the next source; 0 when neither
/// gives one (unknown).
std::int64_t windows_tick_hz(std::optional<std::uint32_t> timer_resolution_100ns,
                             std::optional<std::uint32_t> time_increment_100ns);

/// Whole seconds, milliseconds or microseconds between two counter values of
/// a clock; 0 when its report_hz is 0 or less. Exact for any difference that
/// fits in 64 bits: the difference is split into whole seconds and the rest.
std::int64_t elapsed_seconds(const timer_info& info, std::int64_t start, std::int64_t end);
std::int64_t elapsed_ms(const timer_info& info, std::int64_t start, std::int64_t end);
std::int64_t elapsed_us(const timer_info& info, std::int64_t start, std::int64_t end);

/// Whether the counter, now at now, would pass the largest signed 64-bit value
/// within the given seconds (a report_hz of 0 or less compares against that
/// largest value itself).
bool timer_will_overflow(const timer_info& info, std::int64_t now, std::int64_t seconds);

/// The high-resolution clock that times a run.
struct fast_timer {
    /// A monotonic count at info().report_hz counts per second.
    static std::int64_t now();
    static timer_info info();
};

/// The millisecond clock that cross-checks the fast timer.
struct coarse_timer {
    /// Milliseconds of a monotonic clock (report_hz 1000).
    static std::uint64_t now();
    static timer_info info();
};

}  // namespace tavro
