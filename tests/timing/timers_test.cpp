#include "timing/timers.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <thread>

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
    EXPECT_EQ(timer_source_name(static_cast<timer_source>(8)), "unknown");
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

TEST(ClocksourceRate, EachKernelSourceMapsToItsHardwareRate) {
    EXPECT_EQ(clocksource_hz("tsc", 2'400'000'000, 250), 2'400'000'000);
    EXPECT_EQ(clocksource_hz("hpet", 0, 250), 14'318'180);
    EXPECT_EQ(clocksource_hz("acpi_pm", 0, 250), 3'579'545);
    EXPECT_EQ(clocksource_hz("jiffies", 0, 250), 250);
    EXPECT_EQ(clocksource_hz("refined-jiffies", 0, 100), 100);
    EXPECT_EQ(clocksource_hz("kvm-clock", 2'400'000'000, 250), 1'000'000'000);
    EXPECT_EQ(clocksource_hz("hyperv_clocksource_tsc_page", 0, 250), 1'000'000'000);
    EXPECT_EQ(clocksource_hz("", 0, 0), 1'000'000'000);

    // The rates classify as the hardware they name.
    EXPECT_EQ(classify_timer_source(clocksource_hz("hpet", 0, 0), {}), timer_source::hpet);
    EXPECT_EQ(classify_timer_source(clocksource_hz("acpi_pm", 0, 0), {}), timer_source::acpi);
    EXPECT_EQ(classify_timer_source(clocksource_hz("xen", 0, 0), invariant_unknown_rate),
              timer_source::itsc);
}

TEST(ClocksourceRate, ArmNamesOnlyTheGenericTimer) {
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
    EXPECT_EQ(timer("tsc").underlying_hz, 62'500'000);
    EXPECT_EQ(arm64_clocksource_timer("arch_sys_counter", ~std::uint64_t{0}, 0).underlying_hz,
              int64_max);
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
