#include "bench/driver.h"

#include <algorithm>

#include "bench/auto_thread_count.h"
#include "bench/report.h"
#include "machine/cpu/cpu_identity.h"
#include "machine/memory/memory.h"
#include "machine/memory/system_limits.h"

namespace tavro {

std::uint32_t clamp_duration(std::uint32_t duration_s) {
    return std::clamp<std::uint32_t>(duration_s, 1, 1000);
}

thread_manager make_thread_manager(const bench_config& config, topology_cache& topology) {
    thread_manager manager;
    manager.thread_count = config.threads;
    if (manager.thread_count == 0) {
        manager.thread_count = std::max<std::uint32_t>(
            1, auto_thread_count(ensure_topology(topology), config.grid_size, config.large_pages));
    }
    if (config.threading == "numa") {
        manager.slots = build_numa_slots(ensure_topology(topology));
    } else if (config.threading == "phte") {
        manager.slots = build_phte_slots(ensure_topology(topology));
    }
    return manager;
}

std::uint32_t usable_cpu_count(const cpu_topology& topology, std::uint32_t cpu_quota) {
    const std::uint32_t cpus = logical_cpu_count(topology);
    return cpu_quota != 0 && cpu_quota < cpus ? cpu_quota : cpus;
}

std::uint32_t usable_cpu_count(const cpu_topology& topology) {
    return usable_cpu_count(topology, process_cgroup_limits().cpu_quota.value_or(0));
}

std::optional<double> run_benchmark(bench_config config, topology_cache& topology) {
    return run_benchmark(std::move(config), topology, run_environment::standard());
}

std::optional<double> run_benchmark(bench_config config, topology_cache& topology,
                                    const run_environment& env) {
    const thread_manager manager = make_thread_manager(config, topology);
    const bool large_pages = config.large_pages;
    enable_large_pages();
    const run_request request{large_pages,          manager,
                              config.workload_name, config.isa_name,
                              config.strict_isa,    clamp_duration(config.duration_s),
                              config.grid_size,     config.bypass_timer_check,
                              config.threading,     usable_cpu_count(ensure_topology(topology))};
    const run_result result = execute_run(request, env);
    return report_result(result, read_cpu_brand(), *env.out, *env.err);
}

}  // namespace tavro
