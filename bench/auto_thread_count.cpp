#include "bench/auto_thread_count.h"

#include <algorithm>
#include <limits>

#include "bench/bench_config.h"
#include "machine/memory.h"
#include "machine/system_limits.h"

namespace tavro {

std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size,
                                std::uint64_t available_bytes, std::uint32_t cpu_quota) {
    std::uint32_t cores = core_count(topology);
    if (cores == 0) {
        return 1;
    }
    if (cpu_quota != 0) {
        cores = std::min(cores, cpu_quota);
    }
    const std::uint64_t per_thread = grid_bytes_per_thread(grid_size);
    if (per_thread == 0) {
        return cores;  // the byte count wrapped: no honest memory limit
    }
    // Saturate rather than truncate: a fit beyond 32 bits must not wrap to a small count.
    const std::uint64_t fit = std::min<std::uint64_t>(available_bytes / per_thread,
                                                      std::numeric_limits<std::uint32_t>::max());
    if (fit == 0) {
        return cores;
    }
    return std::min(cores, static_cast<std::uint32_t>(fit));
}

std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size) {
    return auto_thread_count(topology, grid_size, available_physical_memory(),
                             process_cgroup_limits().cpu_quota.value_or(0));
}

}  // namespace tavro
