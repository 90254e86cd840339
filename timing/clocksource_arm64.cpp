// What drives the Linux monotonic clock on 64-bit Arm (timing/timers.h).
#include "timing/timers.h"

namespace tavro {

timer_info linux_clocksource_timer(std::string_view clocksource, std::int64_t tick_hz) {
    return arm64_clocksource_timer(clocksource, read_tsc_info().tsc_hz, tick_hz);
}

}  // namespace tavro
