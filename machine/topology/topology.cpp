#include "machine/topology/topology.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <ostream>
#include <set>
#include <thread>
#include <utility>

#include <fmt/format.h>

namespace tavro {
namespace {

using cores_by_group = std::map<std::uint32_t, std::vector<cpu_core>>;
using groups_by_node = std::map<std::uint32_t, cores_by_group>;

std::uint32_t lookup_or_zero(const std::map<processor_ref, std::uint32_t>& table,
                             const processor_ref& cpu) {
    const auto found = table.find(cpu);
    return found == table.end() ? 0 : found->second;
}

// Efficiency classes are numbered from the highest (fastest) down.
std::map<std::uint32_t, std::uint32_t> number_classes(const std::vector<core_record>& cores) {
    std::set<std::uint32_t> classes;
    for (const core_record& core : cores) {
        classes.insert(core.efficiency_class);
    }
    std::map<std::uint32_t, std::uint32_t> level_of;
    std::uint32_t level = 0;
    for (auto it = classes.rbegin(); it != classes.rend(); ++it) {
        level_of[*it] = level++;
    }
    return level_of;
}

cpu_topology assemble(groups_by_node tree, std::uint32_t perf_level_count) {
    cpu_topology topology;
    topology.perf_level_count = perf_level_count;
    for (auto& [node_id, groups] : tree) {
        numa_node node{.id = node_id, .llc_groups = {}};
        for (auto& [group_id, cores] : groups) {
            node.llc_groups.push_back({.id = group_id, .cores = std::move(cores)});
        }
        topology.nodes.push_back(std::move(node));
    }
    return topology;
}

bool parse_number(std::string_view text, std::uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end &&
           value <= max_cpu_number;
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

cpu_topology build_topology(const topology_records& records) {
    std::map<processor_ref, std::uint32_t> node_of;
    std::map<processor_ref, std::uint32_t> llc_of;
    for (const processor_record& record : records.processors) {
        if (record.node) {
            node_of[record.cpu] = *record.node;
        }
        if (record.llc_group) {
            llc_of[record.cpu] = *record.llc_group;
        }
    }
    const auto level_of = number_classes(records.cores);

    groups_by_node tree;
    for (std::size_t c = 0; c < records.cores.size(); ++c) {
        const core_record& record = records.cores[c];
        const auto id = static_cast<std::uint32_t>(c);
        cpu_core core{.id = id, .perf_level = level_of.at(record.efficiency_class), .logicals = {}};
        for (const processor_ref& cpu : record.logicals) {
            core.logicals.push_back({.index = static_cast<std::uint32_t>(core.logicals.size()),
                                     .core_id = id,
                                     .processor = cpu.processor,
                                     .group = cpu.group});
        }
        const bool empty = record.logicals.empty();
        const std::uint32_t node = empty ? 0 : lookup_or_zero(node_of, record.logicals.back());
        const std::uint32_t llc = empty ? 0 : lookup_or_zero(llc_of, record.logicals.front());
        tree[node][llc].push_back(std::move(core));
    }
    return assemble(std::move(tree), static_cast<std::uint32_t>(level_of.size()));
}

const cpu_topology& ensure_topology(topology_cache& cache) {
    if (!cache) {
        cache = detect_topology();
    }
    return *cache;
}

namespace {

// The sum of per_core(core) over the tree's cores; the standard library's
// hardware concurrency without any node.
template <class PerCore>
std::uint32_t count_over_cores(const cpu_topology& topology, PerCore per_core) {
    if (topology.nodes.empty()) {
        return std::thread::hardware_concurrency();
    }
    std::size_t count = 0;
    for (const numa_node& node : topology.nodes) {
        for (const llc_group& group : node.llc_groups) {
            for (const cpu_core& core : group.cores) {
                count += per_core(core);
            }
        }
    }
    return static_cast<std::uint32_t>(count);
}

}  // namespace

std::uint32_t core_count(const cpu_topology& topology) {
    return count_over_cores(topology, [](const cpu_core&) { return std::size_t{1}; });
}

std::uint32_t logical_cpu_count(const cpu_topology& topology) {
    return count_over_cores(topology, [](const cpu_core& core) { return core.logicals.size(); });
}

void print_topology(const cpu_topology& topology, std::ostream& out) {
    out << fmt::format("perf_level_count={}\n", topology.perf_level_count);
    for (const numa_node& node : topology.nodes) {
        out << fmt::format("numa node id={}\n", node.id);
        for (const llc_group& group : node.llc_groups) {
            out << fmt::format("|--llc id={}\n", group.id);
            for (const cpu_core& core : group.cores) {
                out << fmt::format("|  |--core id={} perf_level={}\n", core.id, core.perf_level);
                for (const logical_cpu& cpu : core.logicals) {
                    out << fmt::format("|  |  |--logical idx={} os={}\n", cpu.index, cpu.processor);
                }
            }
        }
    }
}

std::optional<std::vector<std::uint32_t>> parse_cpu_list(std::string_view text) {
    text = trim(text);
    // A set of flags rather than a list, so repeated ranges cannot grow it.
    std::vector<bool> listed(max_cpu_number + 1, false);
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (comma != std::string_view::npos && text.empty()) {
            return std::nullopt;  // a trailing comma
        }
        const auto dash = item.find('-');
        std::uint32_t first = 0;
        if (!parse_number(item.substr(0, dash), first)) {
            return std::nullopt;
        }
        std::uint32_t last = first;
        if (dash != std::string_view::npos &&
            (!parse_number(item.substr(dash + 1), last) || last < first)) {
            return std::nullopt;
        }
        std::fill(listed.begin() + first, listed.begin() + last + 1, true);
    }
    std::vector<std::uint32_t> cpus;
    for (std::uint32_t cpu = 0; cpu <= max_cpu_number; ++cpu) {
        if (listed[cpu]) {
            cpus.push_back(cpu);
        }
    }
    return cpus;
}

}  // namespace tavro
