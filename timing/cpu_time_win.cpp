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

thread_times read_thread_times() {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return {};
    }
    // Counted in 100-nanosecond units, advanced at each clock tick. Windows
    // keeps no account of the time a thread waits for a processor.
    return {(hundred_ns(kernel) + hundred_ns(user)) / 10, -1};
}

}  // namespace tavro
