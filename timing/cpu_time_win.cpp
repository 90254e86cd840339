// Windows side of timing/cpu_time.h.
#include "timing/cpu_time.h"

#include "machine/win32_support.h"

namespace tavro {

namespace {

std::int64_t hundred_ns(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) |
                                     time.dwLowDateTime);
}

}  // namespace

std::int64_t thread_cpu_time_us() {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return -1;
    }
    // Counted in 100-nanosecond units, advanced at each clock tick.
    return (hundred_ns(kernel) + hundred_ns(user)) / 10;
}

}  // namespace tavro
