#pragma once

#include <optional>

#include "bench/bench_config.h"
#include "bench/run_coordinator.h"
#include "machine/topology/topology.h"

namespace tavro {

/// The driver's duration rule: `duration_s` clamped to 1..1000 seconds.
std::uint32_t clamp_duration(std::uint32_t duration_s);

/// The thread manager of a run: the resolved thread count (automatic when
/// `config.threads` is 0) and the placement slots of "numa" or "phte" (none
/// for any other name). Detects the topology into `topology` when needed.
thread_manager make_thread_manager(const bench_config& config, topology_cache& topology);

/// Logical processors a run's workers can use at once: those of `topology`
/// (the standard library's hardware concurrency when it holds no node), no
/// more than the `cpu_quota` whole CPUs of the CPU quota (0: none). 0 when
/// unknown.
std::uint32_t usable_cpu_count(const cpu_topology& topology, std::uint32_t cpu_quota);

/// usable_cpu_count with this process's CPU quota.
std::uint32_t usable_cpu_count(const cpu_topology& topology);

/// Runs one benchmark with `config` and reports it; returns the final score
/// in MGups for a valid run, nothing otherwise.
std::optional<double> run_benchmark(bench_config config, topology_cache& topology);

/// As above, with the run's surroundings given (tests).
std::optional<double> run_benchmark(bench_config config, topology_cache& topology,
                                    const run_environment& env);

}  // namespace tavro
