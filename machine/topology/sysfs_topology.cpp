// The sysfs reader of machine/topology/topology.h. It only reads files, so it builds
// on every system; tests feed it fake trees under tests/data/sysfs.
#include "machine/topology/topology.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include "machine/cpu/arm_identity.h"
#include "machine/text_file.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;
using cpu_list = std::vector<std::uint32_t>;

std::optional<cpu_list> read_cpu_list(const fs::path& file) {
    const auto text = read_text_file(file);
    return text ? parse_cpu_list(*text) : std::nullopt;
}

// The numbered entries "<prefix><n>" of a directory, ascending by n; none
// when the directory cannot be listed.
std::map<std::uint32_t, fs::path> numbered_entries(const fs::path& dir, std::string_view prefix) {
    std::map<std::uint32_t, fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix) || name.size() == prefix.size()) {
            continue;
        }
        std::uint32_t number = 0;
        const char* last = name.data() + name.size();
        const auto result = std::from_chars(name.data() + prefix.size(), last, number);
        if (result.ec == std::errc() && result.ptr == last) {
            entries.emplace(number, it->path());
        }
    }
    return entries;
}

fs::path cpu_path(const fs::path& cpu_dir, std::uint32_t cpu) {
    return cpu_dir / ("cpu" + std::to_string(cpu));
}

// Hardware threads of one core, from the newer name of the sibling list or
// the older one.
std::optional<cpu_list> read_core_siblings(const fs::path& cpu_dir, std::uint32_t cpu) {
    const fs::path topology = cpu_path(cpu_dir, cpu) / "topology";
    auto siblings = read_cpu_list(topology / "core_cpus_list");
    return siblings ? siblings : read_cpu_list(topology / "thread_siblings_list");
}

// Cores as lists of the given CPUs, numbered by their first CPU. Each CPU
// joins exactly one core even when the sibling lists disagree; a CPU without
// a readable list is a core of its own.
std::vector<cpu_list> group_cores(const fs::path& cpu_dir, const cpu_list& cpus) {
    std::set<std::uint32_t> unassigned(cpus.begin(), cpus.end());
    std::vector<cpu_list> cores;
    for (const std::uint32_t cpu : cpus) {
        if (!unassigned.contains(cpu)) {
            continue;
        }
        cpu_list core;
        const cpu_list siblings = read_core_siblings(cpu_dir, cpu).value_or(cpu_list{});
        for (const std::uint32_t sibling : siblings) {
            if (sibling == cpu || unassigned.contains(sibling)) {
                core.push_back(sibling);
            }
        }
        if (std::find(core.begin(), core.end(), cpu) == core.end()) {
            core.insert(std::lower_bound(core.begin(), core.end(), cpu), cpu);
        }
        for (const std::uint32_t member : core) {
            unassigned.erase(member);
        }
        cores.push_back(std::move(core));
    }
    return cores;
}

bool listed(const cpu_list& list, std::uint32_t cpu) {
    return std::binary_search(list.begin(), list.end(), cpu);
}

// A number that one file of each core's first CPU holds, per core; nothing
// when any core lacks it.
std::optional<std::vector<std::uint32_t>> read_per_core(const fs::path& cpu_dir,
                                                        const std::vector<cpu_list>& cores,
                                                        const fs::path& file) {
    std::vector<std::uint32_t> values;
    for (const cpu_list& core : cores) {
        const auto value = read_number_file<std::uint32_t>(cpu_path(cpu_dir, core.front()) / file);
        if (!value) {
            return std::nullopt;
        }
        values.push_back(*value);
    }
    return values;
}

// Classes 1 (faster) and 0 when `primary` takes exactly two values across
// the cores and, where `secondary` is given, every core of the higher
// primary value is above every core of the lower one in it as well.
// Nothing otherwise: a third value or an overlap is no clean split.
std::optional<std::vector<std::uint32_t>> split_in_two(
    const std::vector<std::uint32_t>& primary, const std::vector<std::uint32_t>* secondary) {
    const std::set<std::uint32_t> values(primary.begin(), primary.end());
    if (values.size() != 2) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> classes;
    for (const std::uint32_t value : primary) {
        classes.push_back(value == *values.rbegin() ? 1 : 0);
    }
    if (secondary != nullptr) {
        std::uint32_t lowest_fast = UINT32_MAX;
        std::uint32_t highest_slow = 0;
        for (std::size_t c = 0; c < classes.size(); ++c) {
            if (classes[c] == 1) {
                lowest_fast = std::min(lowest_fast, (*secondary)[c]);
            } else {
                highest_slow = std::max(highest_slow, (*secondary)[c]);
            }
        }
        if (lowest_fast <= highest_slow) {
            return std::nullopt;
        }
    }
    return classes;
}

const fs::path capacity_file = "cpu_capacity";
const fs::path max_frequency_file = "cpufreq/cpuinfo_max_freq";

// Hybrid processors name their performance and efficiency cores in the
// "cpu_core" and "cpu_atom" event sources. Kernels without them still show
// the two core types in their base frequencies, which a single core type
// does not split: cores that only turbo higher (favoured cores) keep the
// base frequency of the others.
std::vector<std::uint32_t> x86_classes(const fs::path& root, const fs::path& cpu_dir,
                                       const std::vector<cpu_list>& cores) {
    const auto big = read_cpu_list(root / "devices/cpu_core/cpus");
    const auto little = read_cpu_list(root / "devices/cpu_atom/cpus");
    if (big || little) {
        std::vector<std::uint32_t> classes;
        for (const cpu_list& core : cores) {
            classes.push_back(big && listed(*big, core.front()) ? 1 : 0);
        }
        return classes;
    }
    const auto base = read_per_core(cpu_dir, cores, "cpufreq/base_frequency");
    const auto maximum = read_per_core(cpu_dir, cores, max_frequency_file);
    if (base && maximum) {
        if (auto classes = split_in_two(*base, &*maximum)) {
            return *classes;
        }
    }
    return std::vector<std::uint32_t>(cores.size(), 0);
}

// A 64-bit Arm core's class is its type, the implementer and part of its
// MIDR: capacities differ core by core even within one type (firmware
// tables give each core its own), so they only rank the types, each by its
// most capable core. Types that cannot be ranked share one class. Kernels
// that do not show the MIDR leave capacity, else maximum frequency, where
// it takes exactly two values (a big and a little type).
std::vector<std::uint32_t> arm64_classes(const fs::path& cpu_dir,
                                         const std::vector<cpu_list>& cores) {
    std::vector<std::uint32_t> classes(cores.size(), 0);
    const auto capacity = read_per_core(cpu_dir, cores, capacity_file);
    const auto frequency = read_per_core(cpu_dir, cores, max_frequency_file);
    std::vector<midr_code> types;
    for (const cpu_list& core : cores) {
        const auto text =
            read_text_file(cpu_path(cpu_dir, core.front()) / "regs/identification/midr_el1");
        const auto midr = text ? parse_midr_text(*text) : std::nullopt;
        if (!midr) {
            break;
        }
        types.push_back(decode_midr(*midr));
    }
    if (types.size() < cores.size()) {
        for (const auto* measure : {&capacity, &frequency}) {
            if (*measure) {
                if (auto split = split_in_two(**measure, nullptr)) {
                    return *split;
                }
            }
        }
        return classes;
    }
    // One capacity for every core (what the kernel shows where the firmware
    // gives none) ranks nothing; the maximum frequency may.
    const bool capacity_ranks =
        capacity && std::adjacent_find(capacity->begin(), capacity->end(), std::not_equal_to<>()) !=
                        capacity->end();
    const auto& rank = capacity_ranks || !frequency ? capacity : frequency;
    if (!rank) {
        return classes;
    }
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> rank_of_type;
    for (std::size_t c = 0; c < cores.size(); ++c) {
        std::uint32_t& best = rank_of_type[{types[c].implementer, types[c].part}];
        best = std::max(best, (*rank)[c]);
    }
    for (std::size_t c = 0; c < cores.size(); ++c) {
        classes[c] = rank_of_type[{types[c].implementer, types[c].part}];
    }
    return classes;
}

std::map<std::uint32_t, std::uint32_t> read_nodes(const fs::path& node_dir) {
    std::map<std::uint32_t, std::uint32_t> node_of;
    for (const auto& [node, path] : numbered_entries(node_dir, "node")) {
        for (const std::uint32_t cpu : read_cpu_list(path / "cpulist").value_or(cpu_list{})) {
            node_of.emplace(cpu, node);
        }
    }
    return node_of;
}

// The CPUs sharing `cpu`'s cache of the given level; nothing when it has none.
std::optional<cpu_list> read_cache_sharing(const fs::path& cpu_dir, std::uint32_t cpu,
                                           std::uint32_t level) {
    for (const auto& [index, path] : numbered_entries(cpu_path(cpu_dir, cpu) / "cache", "index")) {
        if (read_number_file<std::uint32_t>(path / "level") == level) {
            return read_cpu_list(path / "shared_cpu_list");
        }
    }
    return std::nullopt;
}

// The CPUs that a level-1 or level-2 cache of `cpu` can truly be shared
// by: its cluster where the kernel names one of several CPUs, else its
// package; nothing when neither can be read.
std::optional<cpu_list> read_private_cache_bound(const fs::path& cpu_dir, std::uint32_t cpu) {
    const fs::path topology = cpu_path(cpu_dir, cpu) / "topology";
    auto cluster = read_cpu_list(topology / "cluster_cpus_list");
    if (cluster && cluster->size() > 1) {
        return cluster;
    }
    auto package = read_cpu_list(topology / "package_cpus_list");
    return package ? package : read_cpu_list(topology / "core_siblings_list");
}

// Without a level-3 cache, 64-bit Arm machines are grouped by the outermost
// cache that several CPUs share (a cluster's level 2), else by the cluster
// the kernel reports. Firmware that describes no caches leaves the kernel
// listing level 1 as shared by every CPU: a level-1 or level-2 list beyond
// the cluster or package cannot be true and groups nothing.
std::optional<cpu_list> read_fallback_sharing(const fs::path& cpu_dir, std::uint32_t cpu) {
    const auto bound = read_private_cache_bound(cpu_dir, cpu);
    std::uint32_t best_level = 0;
    std::optional<cpu_list> best;
    for (const auto& [index, path] : numbered_entries(cpu_path(cpu_dir, cpu) / "cache", "index")) {
        const auto level = read_number_file<std::uint32_t>(path / "level");
        auto sharing = read_cpu_list(path / "shared_cpu_list");
        if (!level || *level <= best_level || !sharing || sharing->size() < 2) {
            continue;
        }
        if (*level <= 2 && bound &&
            !std::includes(bound->begin(), bound->end(), sharing->begin(), sharing->end())) {
            continue;
        }
        best_level = *level;
        best = std::move(sharing);
    }
    return best ? best : read_cpu_list(cpu_path(cpu_dir, cpu) / "topology/cluster_cpus_list");
}

// Orders CPU lists element by element. Not the vector's own operator<: GCC
// 12's three-way comparison of vectors of 32-bit integers compares them
// with memcmp over as many bytes as they have elements on big-endian
// machines (s390x), which makes {0, 1} equal to {2, 3}.
struct cpu_list_less {
    bool operator()(const cpu_list& a, const cpu_list& b) const {
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            if (a[i] != b[i]) {
                return a[i] < b[i];
            }
        }
        return a.size() < b.size();
    }
};

// The CPUs that share a cache with each online CPU, by `sharing_of_cpu`;
// CPUs without one are left out.
template <class Reader>
std::map<std::uint32_t, cpu_list> read_sharing(const cpu_list& online, Reader sharing_of_cpu) {
    std::map<std::uint32_t, cpu_list> sharing_of;
    for (const std::uint32_t cpu : online) {
        auto sharing = sharing_of_cpu(cpu);
        if (sharing && !sharing->empty()) {
            sharing_of.emplace(cpu, std::move(*sharing));
        }
    }
    return sharing_of;
}

// Cache groups are found through every online CPU, not only the allowed
// ones, so a group keeps its number when the process is restricted. Groups
// are numbered in the order of their first CPU.
std::map<std::uint32_t, std::uint32_t> read_llc_groups(const fs::path& cpu_dir,
                                                       const cpu_list& online, sysfs_rules rules) {
    auto sharing_of = read_sharing(
        online, [&](std::uint32_t cpu) { return read_cache_sharing(cpu_dir, cpu, 3); });
    if (sharing_of.empty() && rules == sysfs_rules::arm64) {
        sharing_of = read_sharing(
            online, [&](std::uint32_t cpu) { return read_fallback_sharing(cpu_dir, cpu); });
    }
    std::set<cpu_list, cpu_list_less> groups;  // ordered by first CPU
    for (const auto& [cpu, sharing] : sharing_of) {
        groups.insert(sharing);
    }
    std::map<std::uint32_t, std::uint32_t> llc_of;
    for (const auto& [cpu, sharing] : sharing_of) {
        const auto position = std::distance(groups.begin(), groups.find(sharing));
        llc_of.emplace(cpu, static_cast<std::uint32_t>(position));
    }
    return llc_of;
}

std::optional<std::uint32_t> find(const std::map<std::uint32_t, std::uint32_t>& table,
                                  std::uint32_t cpu) {
    const auto found = table.find(cpu);
    return found == table.end() ? std::nullopt : std::optional(found->second);
}

}  // namespace

topology_records read_sysfs_topology(const fs::path& root,
                                     std::span<const std::uint32_t> allowed_cpus,
                                     sysfs_rules rules) {
    const fs::path cpu_dir = root / "devices/system/cpu";
    const auto online = read_cpu_list(cpu_dir / "online");
    if (!online) {
        return {};
    }
    cpu_list cpus;
    for (const std::uint32_t cpu : allowed_cpus) {
        if (listed(*online, cpu)) {
            cpus.push_back(cpu);
        }
    }
    std::sort(cpus.begin(), cpus.end());
    cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());

    const std::vector<cpu_list> cores = group_cores(cpu_dir, cpus);
    const std::vector<std::uint32_t> classes = rules == sysfs_rules::arm64
                                                   ? arm64_classes(cpu_dir, cores)
                                                   : x86_classes(root, cpu_dir, cores);
    topology_records records;
    for (std::size_t c = 0; c < cores.size(); ++c) {
        core_record core{.efficiency_class = classes[c], .logicals = {}};
        for (const std::uint32_t cpu : cores[c]) {
            core.logicals.push_back({.group = 0, .processor = cpu});
        }
        records.cores.push_back(std::move(core));
    }
    const auto node_of = read_nodes(root / "devices/system/node");
    const auto llc_of = read_llc_groups(cpu_dir, *online, rules);
    for (const std::uint32_t cpu : cpus) {
        records.processors.push_back({.cpu = {.group = 0, .processor = cpu},
                                      .node = find(node_of, cpu),
                                      .llc_group = find(llc_of, cpu)});
    }
    return records;
}

}  // namespace tavro
