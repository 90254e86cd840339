// Linux side of timing/cpu_time.h: the thread's CPU clock and the
// scheduler's statistics of it.
#include "timing/cpu_time.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace tavro {

namespace {

std::int64_t running_us() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) {
        return -1;
    }
    return std::int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000;
}

// Read with plain system calls into a buffer on the stack: nothing here may
// need memory the process might not have.
std::int64_t waiting_us() {
    const int fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char text[128];
    const ssize_t got = read(fd, text, sizeof text);
    close(fd);
    if (got <= 0) {
        return -1;
    }
    const std::int64_t ns = schedstat_wait_ns({text, static_cast<std::size_t>(got)});
    return ns < 0 ? -1 : ns / 1000;
}

}  // namespace

thread_times read_thread_times() {
    return {running_us(), waiting_us()};
}

}  // namespace tavro
