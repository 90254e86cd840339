// The sysfs reader of machine/topology/topology.h. It only reads files, so it builds
// on every system; tests feed it fake trees under tests/data/sysfs.
#include "machine/topology/topology.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <string>
#include <system_error>

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

// Hybrid processors name their performance and efficiency cores in the
// "cpu_core" and "cpu_atom" event sources; elsewhere the scheduler's relative
// capacity tells big from little cores. Without either, one class for all.
std::vector<std::uint32_t> efficiency_classes(const fs::path& root, const fs::path& cpu_dir,
                                              const std::vector<cpu_list>& cores) {
    std::vector<std::uint32_t> classes(cores.size(), 0);
    const auto big = read_cpu_list(root / "devices/cpu_core/cpus");
    const auto little = read_cpu_list(root / "devices/cpu_atom/cpus");
    if (big || little) {
        for (std::size_t c = 0; c < cores.size(); ++c) {
            classes[c] = big && listed(*big, cores[c].front()) ? 1 : 0;
        }
        return classes;
    }
    for (std::size_t c = 0; c < cores.size(); ++c) {
        const auto capacity =
            read_number_file<std::uint32_t>(cpu_path(cpu_dir, cores[c].front()) / "cpu_capacity");
        if (!capacity) {
            return std::vector<std::uint32_t>(cores.size(), 0);
        }
        classes[c] = *capacity;
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

// Without a level-3 cache, 64-bit Arm machines are grouped by the outermost
// cache that several CPUs share (a cluster's level 2), else by the cluster
// the kernel reports.
std::optional<cpu_list> read_fallback_sharing(const fs::path& cpu_dir, std::uint32_t cpu) {
    std::uint32_t best_level = 0;
    std::optional<cpu_list> best;
    for (const auto& [index, path] : numbered_entries(cpu_path(cpu_dir, cpu) / "cache", "index")) {
        const auto level = read_number_file<std::uint32_t>(path / "level");
        auto sharing = read_cpu_list(path / "shared_cpu_list");
        if (level && *level > best_level && sharing && sharing->size() > 1) {
            best_level = *level;
            best = std::move(sharing);
        }
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
                                                       const cpu_list& online,
                                                       llc_fallback fallback) {
    auto sharing_of = read_sharing(
        online, [&](std::uint32_t cpu) { return read_cache_sharing(cpu_dir, cpu, 3); });
    if (sharing_of.empty() && fallback == llc_fallback::shared_cache_or_cluster) {
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
                                     llc_fallback fallback) {
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
    const std::vector<std::uint32_t> classes = efficiency_classes(root, cpu_dir, cores);
    topology_records records;
    for (std::size_t c = 0; c < cores.size(); ++c) {
        core_record core{.efficiency_class = classes[c], .logicals = {}};
        for (const std::uint32_t cpu : cores[c]) {
            core.logicals.push_back({.group = 0, .processor = cpu});
        }
        records.cores.push_back(std::move(core));
    }
    const auto node_of = read_nodes(root / "devices/system/node");
    const auto llc_of = read_llc_groups(cpu_dir, *online, fallback);
    for (const std::uint32_t cpu : cpus) {
        records.processors.push_back({.cpu = {.group = 0, .processor = cpu},
                                      .node = find(node_of, cpu),
                                      .llc_group = find(llc_of, cpu)});
    }
    return records;
}

}  // namespace tavro
