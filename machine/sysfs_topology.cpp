// The sysfs reader of machine/topology.h. It only reads files, so it builds
// on every system; tests feed it fake trees under tests/data/sysfs.
#include "machine/topology.h"

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

std::optional<cpu_list> read_l3_sharing(const fs::path& cpu_dir, std::uint32_t cpu) {
    for (const auto& [index, path] : numbered_entries(cpu_path(cpu_dir, cpu) / "cache", "index")) {
        if (read_number_file<std::uint32_t>(path / "level") == 3u) {
            return read_cpu_list(path / "shared_cpu_list");
        }
    }
    return std::nullopt;
}

// Level-3 groups are found through every online CPU, not only the allowed
// ones, so a group keeps its number when the process is restricted.
std::map<std::uint32_t, std::uint32_t> read_l3_groups(const fs::path& cpu_dir,
                                                      const cpu_list& online) {
    std::set<cpu_list> groups;  // ordered by first CPU
    std::map<std::uint32_t, cpu_list> sharing_of;
    for (const std::uint32_t cpu : online) {
        auto sharing = read_l3_sharing(cpu_dir, cpu);
        if (sharing && !sharing->empty()) {
            groups.insert(*sharing);
            sharing_of.emplace(cpu, std::move(*sharing));
        }
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
                                     std::span<const std::uint32_t> allowed_cpus) {
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
    const auto llc_of = read_l3_groups(cpu_dir, *online);
    for (const std::uint32_t cpu : cpus) {
        records.processors.push_back({.cpu = {.group = 0, .processor = cpu},
                                      .node = find(node_of, cpu),
                                      .llc_group = find(llc_of, cpu)});
    }
    return records;
}

}  // namespace tavro
