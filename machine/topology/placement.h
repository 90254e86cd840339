#pragma once

#include <cstdint>
#include <vector>

#include "machine/topology/topology.h"

namespace tavro {

/// A run's thread count and where its workers go: worker k runs on slot k
/// when there is one. The slots depend only on the topology, never on the
/// thread count.
struct thread_manager {
    std::uint32_t thread_count = 0;
    std::vector<logical_cpu> slots;
};

/// The cores of one performance level, gathered per cache group.
struct level_selection {
    /// Non-empty groups: the first cache group of every node, then the
    /// second of every node, and so on. Pointers into the topology.
    std::vector<std::vector<const cpu_core*>> groups;
    /// The most hardware threads of any selected core.
    std::uint32_t max_logicals = 0;
};

/// Bucket j collects the j-th hardware thread of cores; pointers into the topology.
using slot_buckets = std::vector<std::vector<const logical_cpu*>>;

/// Selects the cores of `perf_level` that have at least one hardware thread.
/// The result points into `topology`, which must outlive it.
level_selection select_level_groups(const cpu_topology& topology, std::uint32_t perf_level);

/// Appends the hardware threads of the selected cores to `buckets`, taking
/// one core from every group in turn before a second core from any group.
/// Threads beyond the number of buckets are left out.
void fill_buckets(const level_selection& selection, slot_buckets& buckets);

/// Placement that spreads over cores first: the first hardware thread of
/// every core (fastest level first, alternating between nodes and cache
/// groups), then every second thread, and so on. Empty without a node.
std::vector<logical_cpu> build_numa_slots(const cpu_topology& topology);

/// Placement that fills the fastest level first, all of its hardware threads
/// (first threads before siblings), then the next level. Empty without a node.
std::vector<logical_cpu> build_phte_slots(const cpu_topology& topology);

/// Binds the calling thread to slot `worker` when the manager has one;
/// otherwise lets it run on any CPU the process started with (Linux, where a
/// thread inherits its creator's binding) or leaves it alone (Windows). A
/// binding that fails leaves the thread as it was.
void place_current_thread(const thread_manager& manager, std::uint32_t worker);

/// Binds the calling thread to the one processor of `cpu`; false when the
/// system refused (the thread's affinity is then unchanged).
bool bind_current_thread(const logical_cpu& cpu);

/// Lets the calling thread run on every CPU the process started with; false
/// when the system refused or that set is unknown. On Windows, where new
/// threads never inherit a binding, it changes nothing and returns true.
bool unbind_current_thread();

}  // namespace tavro
