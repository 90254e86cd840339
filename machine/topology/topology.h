#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tavro {

/// One hardware thread of a core; thread placement copies it into its slots.
struct logical_cpu {
    /// Position within its core: 0 for the first hardware thread, 1 for its sibling.
    std::uint32_t index = 0;
    /// The `id` of the core it belongs to.
    std::uint32_t core_id = 0;
    /// The operating system's number for it within its processor group.
    std::uint32_t processor = 0;
    /// The processor group; always 0 where the system has no groups.
    std::uint16_t group = 0;

    bool operator==(const logical_cpu&) const = default;
};

/// One processor core and its hardware threads.
struct cpu_core {
    /// Position of the core in the system's enumeration, from 0.
    std::uint32_t id = 0;
    /// 0 for the fastest efficiency class, 1 for the next slower, and so on.
    std::uint32_t perf_level = 0;
    std::vector<logical_cpu> logicals;

    bool operator==(const cpu_core&) const = default;
};

/// The cores that share one level-3 cache (or all cores of a node when
/// there is none; on 64-bit Arm, the cores of a shared cache or cluster).
struct llc_group {
    /// Position of the level-3 cache in the system's enumeration; 0 without one.
    std::uint32_t id = 0;
    /// Ascending by `id`.
    std::vector<cpu_core> cores;

    bool operator==(const llc_group&) const = default;
};

struct numa_node {
    /// The operating system's node number.
    std::uint32_t id = 0;
    /// Ascending by `id`.
    std::vector<llc_group> llc_groups;

    bool operator==(const numa_node&) const = default;
};

/// The machine as a tree of NUMA nodes, cache groups, cores and hardware
/// threads. Empty (no node, no level) when detection failed.
struct cpu_topology {
    /// Ascending by `id`; only nodes that hold at least one core.
    std::vector<numa_node> nodes;
    /// Number of distinct efficiency classes among the cores.
    std::uint32_t perf_level_count = 0;

    bool operator==(const cpu_topology&) const = default;
};

/// The process-wide topology, detected on first use by `ensure_topology`.
using topology_cache = std::optional<cpu_topology>;

/// A logical processor as the operating system names it.
struct processor_ref {
    std::uint16_t group = 0;
    std::uint32_t processor = 0;

    auto operator<=>(const processor_ref&) const = default;
};

/// One core as the operating system enumerates it.
struct core_record {
    /// Raw efficiency class: a higher class is a faster core.
    std::uint32_t efficiency_class = 0;
    /// Its hardware threads in the order the system lists them.
    std::vector<processor_ref> logicals;
};

/// Where one logical processor sits.
struct processor_record {
    processor_ref cpu;
    /// NUMA node number; absent when no node lists the processor.
    std::optional<std::uint32_t> node;
    /// Position of its level-3 cache in the system's enumeration; absent
    /// when no level-3 cache lists the processor.
    std::optional<std::uint32_t> llc_group;
};

/// The raw facts a platform reader gathers, before any ordering rule.
struct topology_records {
    /// In the system's enumeration order; a core's position is its id.
    std::vector<core_record> cores;
    /// Any order; processors without a record take node 0 and cache group 0.
    std::vector<processor_record> processors;
};

/// Builds the tree: efficiency classes numbered from the highest down, nodes,
/// cache groups and cores ascending. A core goes under the node of its last
/// hardware thread and the cache group of its first. No core gives an empty
/// topology.
cpu_topology build_topology(const topology_records& records);

/// Reads this machine's topology, restricted to the online processors the
/// process may run on. Empty when nothing can be read.
cpu_topology detect_topology();

/// Detects the topology into `cache` on the first call; later calls return
/// the stored value without detecting again.
const cpu_topology& ensure_topology(topology_cache& cache);

/// Number of cores in the tree (hardware threads of one core count once).
/// Without any node, the standard library's hardware concurrency instead
/// (which may itself be 0 when unknown).
std::uint32_t core_count(const cpu_topology& topology);

/// Number of hardware threads in the tree; without any node, the standard
/// library's hardware concurrency instead (which may be 0 when unknown).
std::uint32_t logical_cpu_count(const cpu_topology& topology);

/// Prints the tree, one "\n"-ended line per node, cache group, core and
/// hardware thread, after a "perf_level_count=" line.
void print_topology(const cpu_topology& topology, std::ostream& out);

/// Parses a kernel CPU list such as "0-3,8,10-11" (surrounding white space
/// allowed, "" is the empty list) into ascending unique CPU numbers. Empty
/// when malformed or when a number exceeds `max_cpu_number`.
std::optional<std::vector<std::uint32_t>> parse_cpu_list(std::string_view text);

/// The largest CPU number accepted from the system; far above any real
/// machine, it bounds the memory a corrupt CPU list can claim.
inline constexpr std::uint32_t max_cpu_number = 65535;

/// The processor family whose rules read a sysfs tree.
enum class sysfs_rules : std::uint8_t {
    /// x86: a level-3 cache groups the cores, else all cores of a node form
    /// cache group 0. Efficiency classes come from the kernel's hybrid core
    /// types (the "cpu_core" and "cpu_atom" event sources), else from base
    /// and maximum frequencies where they split the cores into two clean
    /// groups.
    x86,
    /// 64-bit Arm: a level-3 cache groups the cores, else the highest-level
    /// cache that several CPUs share, else the cluster
    /// (`topology/cluster_cpus_list`); a level-1 or level-2 cache listed as
    /// shared beyond the cluster or package is ignored. A core's efficiency
    /// class is its type (the MIDR implementer and part), ranked by the
    /// highest capacity of its cores (`cpu_capacity`, else, or where it is
    /// the same for all, the maximum frequency); without MIDR, capacity or
    /// maximum frequency where it takes exactly two values.
    arm64,
};

/// This architecture's rules (sysfs_rules_x86.cpp, sysfs_rules_arm64.cpp, ...).
sysfs_rules native_sysfs_rules();

/// Reads the records from a sysfs tree at `root` ("/sys" on a live system).
/// Only CPUs that are online and listed in `allowed_cpus` take part. Cache
/// groups and efficiency classes follow `rules`; groups are numbered in the
/// order of their first CPU. A core's efficiency class is 0 for every core
/// when the tree does not tell the core types apart. Returns no core when
/// the online list cannot be read.
topology_records read_sysfs_topology(const std::filesystem::path& root,
                                     std::span<const std::uint32_t> allowed_cpus,
                                     sysfs_rules rules = sysfs_rules::x86);

/// The CPUs the process was allowed to run on when it started, ascending;
/// empty when the system would not say. Captured before `main` runs, so
/// binding threads later does not change it.
const std::vector<std::uint32_t>& startup_allowed_cpus();

}  // namespace tavro
