// Linux side of timing/cpu_time.h.
#include "timing/cpu_time.h"

#include <time.h>

namespace tavro {

std::int64_t thread_cpu_time_us() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) {
        return -1;
    }
    return std::int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000;
}

}  // namespace tavro
