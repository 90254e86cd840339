#include "machine/topology/placement.h"

#include <algorithm>

namespace tavro {
namespace {

std::size_t max_groups_per_node(const cpu_topology& topology) {
    std::size_t most = 0;
    for (const numa_node& node : topology.nodes) {
        most = std::max(most, node.llc_groups.size());
    }
    return most;
}

std::vector<logical_cpu> drain(const slot_buckets& buckets) {
    std::vector<logical_cpu> slots;
    for (const auto& bucket : buckets) {
        for (const logical_cpu* cpu : bucket) {
            slots.push_back(*cpu);
        }
    }
    return slots;
}

}  // namespace

level_selection select_level_groups(const cpu_topology& topology, std::uint32_t perf_level) {
    level_selection selection;
    const std::size_t positions = max_groups_per_node(topology);
    for (std::size_t i = 0; i < positions; ++i) {
        for (const numa_node& node : topology.nodes) {
            if (i >= node.llc_groups.size()) {
                continue;
            }
            std::vector<const cpu_core*> group;
            for (const cpu_core& core : node.llc_groups[i].cores) {
                if (core.perf_level == perf_level && !core.logicals.empty()) {
                    group.push_back(&core);
                    selection.max_logicals = std::max(
                        selection.max_logicals, static_cast<std::uint32_t>(core.logicals.size()));
                }
            }
            if (!group.empty()) {
                selection.groups.push_back(std::move(group));
            }
        }
    }
    return selection;
}

void fill_buckets(const level_selection& selection, slot_buckets& buckets) {
    std::size_t longest = 0;
    for (const auto& group : selection.groups) {
        longest = std::max(longest, group.size());
    }
    for (std::size_t i = 0; i < longest; ++i) {
        for (const auto& group : selection.groups) {
            if (i >= group.size()) {
                continue;
            }
            const cpu_core& core = *group[i];
            for (std::size_t j = 0; j < buckets.size() && j < core.logicals.size(); ++j) {
                buckets[j].push_back(&core.logicals[j]);
            }
        }
    }
}

std::vector<logical_cpu> build_numa_slots(const cpu_topology& topology) {
    if (topology.nodes.empty()) {
        return {};
    }
    std::vector<level_selection> levels;
    std::uint32_t bucket_count = 0;
    for (std::uint32_t level = 0; level < topology.perf_level_count; ++level) {
        levels.push_back(select_level_groups(topology, level));
        bucket_count = std::max(bucket_count, levels.back().max_logicals);
    }
    slot_buckets buckets(bucket_count);
    for (const level_selection& selection : levels) {
        fill_buckets(selection, buckets);
    }
    return drain(buckets);
}

std::vector<logical_cpu> build_phte_slots(const cpu_topology& topology) {
    std::vector<logical_cpu> slots;
    for (std::uint32_t level = 0; level < topology.perf_level_count; ++level) {
        const level_selection selection = select_level_groups(topology, level);
        slot_buckets buckets(selection.max_logicals);
        fill_buckets(selection, buckets);
        const std::vector<logical_cpu> level_slots = drain(buckets);
        slots.insert(slots.end(), level_slots.begin(), level_slots.end());
    }
    return slots;
}

void place_current_thread(const thread_manager& manager, std::uint32_t worker) {
    if (worker < manager.slots.size()) {
        bind_current_thread(manager.slots[worker]);
        return;
    }
    // A new thread inherits the affinity of the thread that created it, and
    // the coordinating thread stays bound after a run; a worker without a
    // slot must not stay confined to its creator's processor.
    unbind_current_thread();
}

}  // namespace tavro
