#include "timing/timers.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "timing/cpu_time.h"

namespace tavro {
namespace {

// Both clocks of this machine, read around a pause, agree within the
// tolerance a run allows (the coarse clock lags by up to one tick).
TEST(Clocks, FastAndCoarseClocksRunTogether) {
    const timer_info fast = fast_timer::info();
    const std::int64_t fast_start = fast_timer::now();
    const std::uint64_t coarse_start = coarse_timer::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::int64_t fast_end = fast_timer::now();
    const std::uint64_t coarse_end = coarse_timer::now();
    ASSERT_GE(coarse_end, coarse_start);
    const std::int64_t fast_ms = elapsed_ms(fast, fast_start, fast_end);
    const auto coarse_ms = static_cast<std::int64_t>(coarse_end - coarse_start);
    EXPECT_GE(fast_ms, 50);
    EXPECT_LE(std::abs(fast_ms - coarse_ms), 31) << fast_ms << " vs " << coarse_ms;
}

// A thread's processor time grows while it computes and not while it sleeps.
TEST(ThreadTimes, RunningTimeCountsWorkNotSleep) {
    const thread_times start = read_thread_times();
    ASSERT_GE(start.running_us, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const thread_times slept = read_thread_times();
    EXPECT_LT(slept.running_us - start.running_us, 100'000);
    // Busy for longer than a clock tick, the granularity of some systems.
    const auto busy_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(60);
    while (std::chrono::steady_clock::now() < busy_until) {
    }
    const thread_times end = read_thread_times();
    EXPECT_GT(end.running_us, slept.running_us);
    if (start.waiting_us >= 0) {
        EXPECT_GE(end.waiting_us, start.waiting_us);
    }

    EXPECT_EQ(schedstat_wait_ns("8861339 203450 77\n"), 203450);
    EXPECT_EQ(schedstat_wait_ns("1 0 1"), 0);
    EXPECT_EQ(schedstat_wait_ns("0 0 0\n"), -1);
    EXPECT_EQ(schedstat_wait_ns("8861339 x 77\n"), -1);
    EXPECT_EQ(schedstat_wait_ns("8861339\n"), -1);
    EXPECT_EQ(schedstat_wait_ns(""), -1);
    EXPECT_EQ(schedstat_wait_ns("1 99999999999999999999 3"), -1);
}

constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();

const tsc_info invariant_unknown_rate{true, 0, 0};
const tsc_info variant_unknown_rate{false, 0, 0};

TEST(TimerSourceName, NamesEveryCodeAndUnknownBeyond) {
    EXPECT_EQ(timer_source_name(timer_source::unknown), "unknown");
    EXPECT_EQ(timer_source_name(timer_source::tsc), "TSC");
    EXPECT_EQ(timer_source_name(timer_source::itsc), "iTSC");
    EXPECT_EQ(timer_source_name(timer_source::hpet), "HPET");
    EXPECT_EQ(timer_source_name(timer_source::acpi), "ACPI");
    EXPECT_EQ(timer_source_name(timer_source::pit), "PIT");
    EXPECT_EQ(timer_source_name(timer_source::rtc), "RTC");
    EXPECT_EQ(timer_source_name(timer_source::generic_timer), "generic timer");
    EXPECT_EQ(timer_source_name(timer_source::riscv_timer), "RISC-V timer");
    EXPECT_EQ(timer_source_name(timer_source::timebase), "timebase");
    EXPECT_EQ(timer_source_name(timer_source::tod_clock), "TOD clock");
    EXPECT_EQ(timer_source_name(static_cast<timer_source>(11)), "unknown");
    EXPECT_EQ(timer_source_name(static_cast<timer_source>(255)), "unknown");
}

TEST(TimerSourceClassification, FixedFrequenciesAndRanges) {
    const auto classify = [](std::int64_t hz) {
        return classify_timer_source(hz, invariant_unknown_rate);
    };
    EXPECT_EQ(classify(1'193'182), timer_source::pit);
    EXPECT_EQ(classify(1'193'183), timer_source::unknown);
    EXPECT_EQ(classify(32'000'000), timer_source::rtc);
    EXPECT_EQ(classify(32'768'000), timer_source::rtc);
    EXPECT_EQ(classify(3'578'999), timer_source::unknown);
    EXPECT_EQ(classify(3'579'000), timer_source::acpi);
    EXPECT_EQ(classify(3'579'545), timer_source::acpi);
    EXPECT_EQ(classify(3'579'999), timer_source::acpi);
    EXPECT_EQ(classify(3'580'000), timer_source::unknown);
    EXPECT_EQ(classify(143'100'000), timer_source::itsc);
    EXPECT_EQ(classify(143'100'001), timer_source::hpet);
    EXPECT_EQ(classify(143'299'999), timer_source::hpet);
    EXPECT_EQ(classify(143'300'000), timer_source::itsc);
    EXPECT_EQ(classify(14'318'180), timer_source::hpet);
    EXPECT_EQ(classify(10'000'001), timer_source::hpet);
    EXPECT_EQ(classify(99'999'999), timer_source::hpet);
    EXPECT_EQ(classify(100'000'000), timer_source::itsc);
    EXPECT_EQ(classify(1'000'000'000), timer_source::itsc);
    EXPECT_EQ(classify(int64_max), timer_source::itsc);
    EXPECT_EQ(classify(5'000'000), timer_source::unknown);
    EXPECT_EQ(classify(0), timer_source::unknown);
    EXPECT_EQ(classify(-1), timer_source::unknown);
    EXPECT_EQ(classify(int64_min), timer_source::unknown);
}

TEST(TimerSourceClassification, TenMegahertzIsTheCounterWhateverItsRate) {
    EXPECT_EQ(classify_timer_source(10'000'000, invariant_unknown_rate), timer_source::itsc);
    EXPECT_EQ(classify_timer_source(10'000'000, variant_unknown_rate), timer_source::tsc);
    EXPECT_EQ(classify_timer_source(10'000'000, {true, 3'000'000'000, 0}), timer_source::itsc);
    EXPECT_EQ(classify_timer_source(10'000'000, {false, 3'000'000'000, 0}), timer_source::tsc);
}

TEST(TimerSourceClassification, MatchesTheCounterRateAndItsDivisionBy1024) {
    const tsc_info slow{false, 50'000'000, 0};
    EXPECT_EQ(classify_timer_source(50'999'999, slow), timer_source::tsc);
    EXPECT_EQ(classify_timer_source(49'000'001, slow), timer_source::tsc);
    EXPECT_EQ(classify_timer_source(49'000'000, slow), timer_source::hpet);
    EXPECT_EQ(classify_timer_source(51'000'000, slow), timer_source::hpet);

    // 3 GHz / 1024 = 2929687 (integer division), matched within 100 kHz.
    const tsc_info fast{true, 3'000'000'000, 0};
    EXPECT_EQ(classify_timer_source(2'929'687, fast), timer_source::itsc);
    EXPECT_EQ(classify_timer_source(2'929'687 + 99'999, fast), timer_source::itsc);
    EXPECT_EQ(classify_timer_source(2'929'687 + 100'000, fast), timer_source::unknown);
    EXPECT_EQ(classify_timer_source(2'929'687 - 99'999, fast), timer_source::itsc);
    EXPECT_EQ(classify_timer_source(2'929'687 - 100'000, fast), timer_source::unknown);

    // Fixed frequencies win over a counter rate that happens to match them.
    EXPECT_EQ(classify_timer_source(3'579'545, {true, 3'579'545, 0}), timer_source::acpi);
    // A nonsense rate beyond the signed range is ignored, not overflowed.
    EXPECT_EQ(classify_timer_source(int64_min, {true, ~std::uint64_t{0}, 0}),
              timer_source::unknown);
}

TEST(KernelClockSource, X86NamesTheSourceTheKernelUses) {
    const tsc_info stated{true, 2'400'000'000, 0};
    const auto timer = [&](std::string_view name) {
        return x86_clocksource_timer(name, stated, name == "tsc" ? 2'400'000'000 : 0, 250,
                                     24'000'000);
    };
    const auto expect = [](const timer_info& info, timer_source source, std::int64_t hz) {
        EXPECT_EQ(info.source, source) << timer_source_name(info.source);
        EXPECT_EQ(info.underlying_hz, hz);
        EXPECT_EQ(info.report_hz, 0);
    };
    expect(timer("tsc"), timer_source::itsc, 2'400'000'000);
    expect(x86_clocksource_timer("tsc", {false, 0, 0}, 2'400'000'000, 250, 0), timer_source::tsc,
           2'400'000'000);
    // The TSC named by the kernel stays the TSC whatever its rate reads.
    expect(x86_clocksource_timer("tsc", stated, 0, 250, 0), timer_source::itsc, 0);
    // The HPET at the rate the kernel gave it, or unknown: never a constant.
    expect(timer("hpet"), timer_source::hpet, 24'000'000);
    expect(x86_clocksource_timer("hpet", stated, 0, 250, 0), timer_source::hpet, 0);
    expect(timer("acpi_pm"), timer_source::acpi, 3'579'545);
    expect(timer("jiffies"), timer_source::unknown, 250);
    expect(timer("refined-jiffies"), timer_source::unknown, 250);
    // Paravirtual clocks count nanoseconds of a counter the host scales:
    // never a TSC of this processor, however invariant its counter is.
    for (const std::string_view name :
         {"kvm-clock", "xen", "hyperv_clocksource_tsc_page", "arch_sys_counter", "TSC", ""}) {
        expect(timer(name), timer_source::unknown, 1'000'000'000);
    }
}

TEST(KernelClockSource, ArmNamesOnlyTheGenericTimer) {
    const auto timer = [](std::string_view name) {
        return arm64_clocksource_timer(name, 62'500'000, 250);
    };
    EXPECT_EQ(timer("arch_sys_counter").source, timer_source::generic_timer);
    EXPECT_EQ(timer("arch_sys_counter").underlying_hz, 62'500'000);
    EXPECT_EQ(timer("jiffies").underlying_hz, 250);
    EXPECT_EQ(timer("refined-jiffies").underlying_hz, 250);
    // Under an emulator the clock source is the host's: never an x86 name.
    for (const std::string_view name : {"tsc", "hpet", "acpi_pm", "kvm-clock", "jiffies", ""}) {
        EXPECT_EQ(timer(name).source, timer_source::unknown) << name;
    }
    EXPECT_EQ(timer("tsc").underlying_hz, 1'000'000'000);
    EXPECT_EQ(arm64_clocksource_timer("arch_sys_counter", ~std::uint64_t{0}, 0).underlying_hz,
              int64_max);
}

TEST(KernelClockSource, OtherArchitecturesNameOnlyTheirOwnCounter) {
    struct own_counter {
        std::string_view name;
        timer_source source;
    };
    for (const own_counter counter : {own_counter{"riscv_clocksource", timer_source::riscv_timer},
                                      {"timebase", timer_source::timebase},
                                      {"tod", timer_source::tod_clock}}) {
        const auto timer = [&](std::string_view name, std::uint64_t hz = 512'000'000) {
            return own_counter_clocksource_timer(name, counter.name, counter.source, hz, 100);
        };
        EXPECT_EQ(timer(counter.name).source, counter.source);
        EXPECT_EQ(timer(counter.name).underlying_hz, 512'000'000);
        // A rate the kernel does not tell (under an emulator) stays unknown.
        EXPECT_EQ(timer(counter.name, 0).underlying_hz, 0);
        EXPECT_EQ(timer("jiffies").underlying_hz, 100);
        // The host's clock source under an emulator, or another
        // architecture's counter: an unknown source at the nanosecond rate.
        for (const std::string_view name :
             {"tsc", "hpet", "arch_sys_counter", "kvm-clock", "riscv_clocksource", "tod"}) {
            if (name != counter.name) {
                EXPECT_EQ(timer(name).source, timer_source::unknown) << name;
                EXPECT_EQ(timer(name).underlying_hz, 1'000'000'000) << name;
            }
        }
    }
}

TEST(KernelClockSource, HpetRateFromTheTimerList) {
    // As the kernel lists its devices: the per-CPU timer first, the HPET as
    // the broadcast device, each block ended by a blank line.
    const auto device = [](std::string_view name, std::string_view mult, std::string_view shift) {
        return fmt::format(
            "Clock Event Device: {}\n max_delta_ns:   149983005959\n min_delta_ns:   13409\n"
            " mult:           {}\n shift:          {}\n mode:           3\n"
            " event_handler:  tick_handle_oneshot_broadcast\n retries:        0\n\n",
            name, mult, shift);
    };
    const std::string head =
        "Timer List Version: v0.10\nnow at 38228 nsecs\n\nTick Device: mode: 1\n";
    const std::string lapic = device("lapic-deadline", "8791328", "25");
    EXPECT_EQ(
        timer_list_hpet_hz(head + lapic + "Broadcast device\n" + device("hpet", "61496115", "32")),
        14'318'180);
    EXPECT_EQ(timer_list_hpet_hz(head + device("hpet", "429496730", "32") + lapic), 100'000'000);
    EXPECT_EQ(timer_list_hpet_hz(device("hpet3", "103079215", "32")), 24'000'000);
    // No HPET among the devices, or values that do not read.
    EXPECT_EQ(timer_list_hpet_hz(head + lapic), 0);
    EXPECT_EQ(timer_list_hpet_hz(device("hpetx", "61496115", "32")), 0);
    EXPECT_EQ(timer_list_hpet_hz(device("hpet", "", "32")), 0);
    EXPECT_EQ(timer_list_hpet_hz(device("hpet", "61496115", "64")), 0);
    EXPECT_EQ(timer_list_hpet_hz(device("hpet", "0", "32")), 0);
    EXPECT_EQ(timer_list_hpet_hz("Clock Event Device: hpet\n mult: 61496115\n\n shift: 32\n"), 0);
    EXPECT_EQ(timer_list_hpet_hz(""), 0);
    // Values beyond any real rate saturate rather than wrap.
    EXPECT_EQ(timer_list_hpet_hz(device("hpet", "18446744073709551615", "0")), int64_max);
}

TEST(TickRate, FromResolutionNeverDividesByZero) {
    EXPECT_EQ(tick_hz_from_resolution(4'000'000), 250);
    EXPECT_EQ(tick_hz_from_resolution(10'000'000), 100);
    EXPECT_EQ(tick_hz_from_resolution(1), 1'000'000'000);
    EXPECT_EQ(tick_hz_from_resolution(0), 0);
    EXPECT_EQ(tick_hz_from_resolution(-4'000'000), 0);
}

cpuid_snapshot tsc_leaves(std::uint32_t max_leaf, cpuid_regs leaf15, std::uint32_t base_mhz) {
    cpuid_snapshot regs;
    regs.set(0, 0, {max_leaf, 0, 0, 0});
    regs.set(0x15, 0, leaf15);
    regs.set(0x16, 0, {base_mhz, 0, 0, 0});
    return regs;
}

TEST(TscInfo, RateFromCrystalRatioElseBaseFrequency) {
    tsc_info info = decode_tsc_info(tsc_leaves(0x16, {2, 176, 24'000'000, 0}, 2100));
    EXPECT_EQ(info.tsc_hz, 2'112'000'000u);
    EXPECT_EQ(info.crystal_hz, 24'000'000u);

    // Crystal not told: the base frequency of leaf 0x16 in MHz, low 16 bits only.
    info = decode_tsc_info(tsc_leaves(0x16, {2, 176, 0, 0}, 0xABCD'0000u | 2400));
    EXPECT_EQ(info.tsc_hz, 2'400'000'000u);
    EXPECT_EQ(info.crystal_hz, 0u);
    info = decode_tsc_info(tsc_leaves(0x16, {0, 176, 24'000'000, 0}, 2400));
    EXPECT_EQ(info.tsc_hz, 2'400'000'000u);
    EXPECT_EQ(info.crystal_hz, 24'000'000u);

    // Leaf 0x16 missing: no estimate.
    info = decode_tsc_info(tsc_leaves(0x15, {2, 176, 0, 0}, 2400));
    EXPECT_EQ(info.tsc_hz, 0u);
    // Neither leaf present.
    info = decode_tsc_info(tsc_leaves(0x14, {2, 176, 24'000'000, 0}, 2400));
    EXPECT_EQ(info.tsc_hz, 0u);
    EXPECT_EQ(info.crystal_hz, 0u);

    // The largest 32-bit factors multiply without wrapping.
    info = decode_tsc_info(tsc_leaves(0x15, {1, ~0u, ~0u, 0}, 0));
    EXPECT_EQ(info.tsc_hz, std::uint64_t{~0u} * ~0u);
}

TEST(TscInfo, InvariantBitOnlyFromAnExistingLeaf) {
    cpuid_snapshot regs;
    regs.set(0x8000'0007, 0, {0, 0, 0, 1u << 8});
    regs.set(0x8000'0000, 0, {0x8000'0008, 0, 0, 0});
    EXPECT_TRUE(decode_tsc_info(regs).invariant);
    regs.set(0x8000'0000, 0, {0x8000'0006, 0, 0, 0});
    EXPECT_FALSE(decode_tsc_info(regs).invariant);
    regs.set(0x8000'0000, 0, {0x8000'0007, 0, 0, 0});
    regs.set(0x8000'0007, 0, {0, 0, 0, ~(1u << 8)});
    EXPECT_FALSE(decode_tsc_info(regs).invariant);
}

TEST(ElapsedTime, SplitConversionTruncatesTowardZero) {
    const timer_info three_hz{3, 0, timer_source::unknown};
    EXPECT_EQ(elapsed_seconds(three_hz, 0, 10), 3);
    EXPECT_EQ(elapsed_ms(three_hz, 0, 10), 3333);
    EXPECT_EQ(elapsed_us(three_hz, 5, 15), 3'333'333);
    EXPECT_EQ(elapsed_ms(three_hz, 10, 0), -3333);

    for (std::int64_t hz : {std::int64_t{0}, std::int64_t{-1000}}) {
        const timer_info broken{hz, 0, timer_source::unknown};
        EXPECT_EQ(elapsed_seconds(broken, 0, 1000), 0);
        EXPECT_EQ(elapsed_ms(broken, 0, 1000), 0);
        EXPECT_EQ(elapsed_us(broken, 0, 1000), 0);
    }
}

TEST(ElapsedTime, LongCountsAtHighFrequenciesDoNotOverflow) {
    const timer_info nanoseconds{1'000'000'000, 0, timer_source::itsc};
    EXPECT_EQ(elapsed_seconds(nanoseconds, 0, int64_max), 9'223'372'036);
    EXPECT_EQ(elapsed_ms(nanoseconds, 0, int64_max), 9'223'372'036'854);
    EXPECT_EQ(elapsed_us(nanoseconds, 0, int64_max), 9'223'372'036'854'775);
    EXPECT_EQ(elapsed_seconds(nanoseconds, int64_min, int64_max), 18'446'744'073);
    EXPECT_EQ(elapsed_us(nanoseconds, int64_max, int64_min), -18'446'744'073'709'551);

    // A result that cannot be held saturates instead of wrapping.
    const timer_info one_hz{1, 0, timer_source::unknown};
    EXPECT_EQ(elapsed_us(one_hz, 0, int64_max), int64_max);
    EXPECT_EQ(elapsed_us(one_hz, int64_max, int64_min), int64_min);
    const timer_info huge_hz{int64_max, 0, timer_source::unknown};
    EXPECT_EQ(elapsed_us(huge_hz, 0, int64_max - 1), 999'999);
}

TEST(TimerOverflow, LimitIsTheSecondsLeftBeforeTheLargestCount) {
    const timer_info milliseconds{1000, 0, timer_source::unknown};
    EXPECT_FALSE(timer_will_overflow(milliseconds, 0, 9'223'372'036'854'774));
    EXPECT_TRUE(timer_will_overflow(milliseconds, 0, 9'223'372'036'854'775));

    const timer_info nanoseconds{1'000'000'000, 0, timer_source::itsc};
    const std::int64_t ten_seconds_left = int64_max - 10'000'000'000;
    EXPECT_FALSE(timer_will_overflow(nanoseconds, ten_seconds_left, 9));
    EXPECT_TRUE(timer_will_overflow(nanoseconds, ten_seconds_left, 10));
    EXPECT_TRUE(timer_will_overflow(nanoseconds, int64_max, 0));
    EXPECT_FALSE(timer_will_overflow(nanoseconds, int64_min, 32));

    const timer_info broken{0, 0, timer_source::unknown};
    EXPECT_FALSE(timer_will_overflow(broken, 123, int64_max - 1));
    EXPECT_TRUE(timer_will_overflow(broken, 123, int64_max));
}

TEST(WindowsTickRate, ResolutionFirstThenIncrementNeverDividingByZero) {
    // 1 ms current resolution; the 15.625 ms clock increment as fallback.
    EXPECT_EQ(windows_tick_hz(10'000, 156'250), 1000);
    EXPECT_EQ(windows_tick_hz(std::nullopt, 156'250), 64);
    EXPECT_EQ(windows_tick_hz(0, 156'250), 64);
    EXPECT_EQ(windows_tick_hz(0, 0), 0);
    EXPECT_EQ(windows_tick_hz(std::nullopt, std::nullopt), 0);
    EXPECT_EQ(windows_tick_hz(1, std::nullopt), 10'000'000);
    EXPECT_EQ(windows_tick_hz(std::numeric_limits<std::uint32_t>::max(), std::nullopt), 0);
}

}  // namespace
}  // namespace tavro
