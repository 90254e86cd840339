// What drives the Linux monotonic clock on x86 (timing/timers.h): the
// kernel's clock source, with the rate of the hardware it names.
#include "timing/timers.h"

#include <sys/stat.h>
#include <time.h>

#include <limits>

#include "machine/text_file.h"

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

// The HPET's rate from /proc/timer_list, read only when every user may read
// the file: current kernels let only root read it, and root and an ordinary
// user must be shown the same facts. 0 when it is not read.
std::int64_t kernel_hpet_hz() {
    constexpr auto path = "/proc/timer_list";
    struct stat status {};
    if (stat(path, &status) != 0 || (status.st_mode & S_IROTH) == 0) {
        return 0;
    }
    const auto text = read_text_file(path);
    return text ? timer_list_hpet_hz(*text) : 0;
}

}  // namespace

timer_info linux_clocksource_timer(std::string_view clocksource, std::int64_t tick_hz) {
    const tsc_info tsc = read_tsc_info();
    const std::int64_t tsc_hz = clocksource == "tsc" ? tsc_rate(tsc) : 0;
    const std::int64_t hpet_hz = clocksource == "hpet" ? kernel_hpet_hz() : 0;
    return x86_clocksource_timer(clocksource, tsc, tsc_hz, tick_hz, hpet_hz);
}

}  // namespace tavro
