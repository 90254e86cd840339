// Linux side of machine/memory/system_limits.h: the live control groups and the
// kernel's thread limits.
#include "machine/memory/system_limits.h"

#include <sys/resource.h>
#include <unistd.h>

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

}  // namespace tavro
