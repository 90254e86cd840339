// What drives the Linux monotonic clock on s390x (timing/timers.h).
#include "timing/timers.h"

namespace tavro {

timer_info linux_clocksource_timer(std::string_view clocksource, std::int64_t tick_hz) {
    return own_counter_clocksource_timer(clocksource, "tod", timer_source::tod_clock,
                                         read_tsc_info().tsc_hz, tick_hz);
}

}  // namespace tavro
