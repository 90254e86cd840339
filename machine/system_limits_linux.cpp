// Linux side of machine/system_limits.h: the live control groups and the
// kernel's thread limits.
#include "machine/system_limits.h"

#include <sys/resource.h>

#include <fstream>

namespace tavro {

cgroup_limits process_cgroup_limits() {
    return read_cgroup_limits("/");
}

std::uint64_t system_thread_limit() {
    // Every thread is a task to the kernel: threads-max bounds them system
    // wide, RLIMIT_NPROC per user (not enforced for root, but a bound all
    // the same).
    std::uint64_t threads_max = 0;
    std::ifstream in("/proc/sys/kernel/threads-max");
    if (!(in >> threads_max)) {
        threads_max = 0;
    }
    std::uint64_t nproc = 0;
    rlimit limit{};
    if (getrlimit(RLIMIT_NPROC, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        nproc = limit.rlim_cur;
    }
    return smaller_limit(threads_max, nproc);
}

}  // namespace tavro
