// Linux side of machine/memory/system_limits.h: the live control groups and the
// kernel's thread limits.
#include "machine/memory/system_limits.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include "machine/memory/memory.h"
#include "machine/text_file.h"

namespace tavro {

cgroup_limits process_cgroup_limits() {
    return read_cgroup_limits("/");
}

std::uint64_t system_thread_limit() {
    // Every thread is a task to the kernel: threads-max bounds them system
    // wide, RLIMIT_NPROC per user (where the kernel enforces it) and the
    // pids controller per control group.
    thread_limit_facts facts;
    facts.threads_max = read_number_file<std::uint64_t>("/proc/sys/kernel/threads-max").value_or(0);
    rlimit limit{};
    if (getrlimit(RLIMIT_NPROC, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        facts.nproc = limit.rlim_cur;
    }
    const std::string status = read_text_file("/proc/self/status").value_or(std::string{});
    const std::string uid_map = read_text_file("/proc/self/uid_map").value_or(std::string{});
    facts.nproc_enforced =
        nproc_enforced(is_initial_uid_map(uid_map), getuid(), status_mask(status, "CapEff"));
    facts.task_headroom = process_cgroup_limits().task_headroom;
    return run_thread_cap(facts);
}

address_space_facts process_address_space() {
    address_space_facts facts;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const std::string status = read_text_file("/proc/self/status").value_or(std::string{});
        const std::uint64_t mapped = meminfo_bytes(status, "VmSize");
        facts.left = limit.rlim_cur > mapped ? limit.rlim_cur - mapped : 0;
    }
    // New threads get the default stack, which the C library takes from
    // RLIMIT_STACK when the program starts.
    pthread_attr_t attr;
    if (pthread_getattr_default_np(&attr) == 0) {
        std::size_t stack = 0;
        std::size_t guard = 0;
        pthread_attr_getstacksize(&attr, &stack);
        pthread_attr_getguardsize(&attr, &guard);
        pthread_attr_destroy(&attr);
        facts.thread_stack = stack + guard;
    }
    // A thread's first allocation maps an arena of its own, 64 MiB of
    // address space on 64-bit systems, until there are 8 per processor.
    facts.arena = std::uint64_t{64} * 1024 * 1024;
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    facts.arena_limit = 8 * static_cast<std::uint64_t>(cpus > 0 ? cpus : 1);
    return facts;
}

}  // namespace tavro
