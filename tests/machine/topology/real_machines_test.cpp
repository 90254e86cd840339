// The sysfs reader on trees gathered from real machines (tests/data/machines,
// unpacked into the build tree by CMake). The set-up first brings each tree
// to what a current kernel shows: old kernels wrote no online list and no
// *_list forms of the masks, and some files end with zero bytes. A process
// on a machine with a cpuset may run only on its CPUs, so the cpuset named in
// the tree's procfs is the allowed set.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "machine/topology/topology.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

fs::path machines_source() {
    const char* data = std::getenv("TAVRO_TEST_DATA");
    return fs::path(data != nullptr ? data : "tests/data") / "machines";
}

std::optional<std::string> read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

/// What the topology tree of one machine holds.
struct machine_counts {
    std::uint32_t nodes = 0;
    /// Cache groups summed over the nodes.
    std::uint32_t cache_groups = 0;
    std::uint32_t cores = 0;
    std::uint32_t threads = 0;
    std::uint32_t perf_levels = 0;
};

std::string describe(const machine_counts& counts) {
    return fmt::format("nodes={} cache_groups={} cores={} threads={} perf_levels={}", counts.nodes,
                       counts.cache_groups, counts.cores, counts.threads, counts.perf_levels);
}

machine_counts count(const cpu_topology& topology) {
    machine_counts counts{.perf_levels = topology.perf_level_count};
    for (const numa_node& node : topology.nodes) {
        ++counts.nodes;
        for (const llc_group& group : node.llc_groups) {
            ++counts.cache_groups;
            for (const cpu_core& core : group.cores) {
                ++counts.cores;
                counts.threads += static_cast<std::uint32_t>(core.logicals.size());
            }
        }
    }
    return counts;
}

/// The rows of an expected-values file (name, then the five counts, tab
/// separated; a header line and lines starting with '#' skipped) into
/// `rows`; malformed lines are test failures.
void read_expected(const fs::path& file, std::map<std::string, machine_counts>& rows) {
    const auto text = read_bytes(file);
    if (!text) {
        return;
    }
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line.starts_with('#') || line.starts_with("name\t")) {
            continue;
        }
        std::istringstream fields(line);
        std::string name;
        machine_counts counts;
        if (!(fields >> name >> counts.nodes >> counts.cache_groups >> counts.cores >>
              counts.threads >> counts.perf_levels)) {
            ADD_FAILURE() << file << ": malformed line: " << line;
            continue;
        }
        EXPECT_TRUE(rows.emplace(name, counts).second) << file << ": two rows for " << name;
    }
}

/// A kernel mask ("00000000,000000f0": 32-bit words, the highest first) as a
/// CPU list ("4-7"); nothing when it is not a mask.
std::optional<std::string> mask_to_list(std::string_view mask) {
    mask = trimmed(mask);
    std::vector<std::uint32_t> words;
    while (!mask.empty()) {
        const auto comma = mask.find(',');
        const std::string_view word = mask.substr(0, comma);
        std::uint32_t value = 0;
        const auto [end, error] =
            std::from_chars(word.data(), word.data() + word.size(), value, 16);
        if (word.empty() || error != std::errc{} || end != word.data() + word.size()) {
            return std::nullopt;
        }
        words.push_back(value);
        mask = comma == std::string_view::npos ? std::string_view{} : mask.substr(comma + 1);
    }
    std::vector<std::uint32_t> cpus;
    for (std::size_t w = 0; w < words.size(); ++w) {
        const auto base = static_cast<std::uint32_t>(32 * (words.size() - 1 - w));
        for (std::uint32_t bit = 0; bit < 32; ++bit) {
            if ((words[w] >> bit) & 1u) {
                cpus.push_back(base + bit);
            }
        }
    }
    std::sort(cpus.begin(), cpus.end());
    std::string list;
    for (std::size_t i = 0; i < cpus.size();) {
        std::size_t j = i;
        while (j + 1 < cpus.size() && cpus[j + 1] == cpus[j] + 1) {
            ++j;
        }
        list += fmt::format("{}{}", list.empty() ? "" : ",", cpus[i]);
        if (j > i) {
            list += fmt::format("-{}", cpus[j]);
        }
        i = j + 1;
    }
    return list;
}

/// Drops the zero bytes at the end of the regular files directly in `dir`.
void strip_zero_bytes(const fs::path& dir) {
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file()) {
            continue;
        }
        auto bytes = read_bytes(it->path());
        if (bytes && !bytes->empty() && bytes->back() == '\0') {
            bytes->erase(bytes->find_last_not_of('\0') + 1);
            write_bytes(it->path(), *bytes);
        }
    }
}

/// Writes the list form of each mask in `dir` that lacks one.
void add_lists(const fs::path& dir,
               std::initializer_list<std::pair<std::string_view, std::string_view>> masks) {
    for (const auto& [mask, list] : masks) {
        const fs::path list_file = dir / list;
        if (fs::exists(list_file)) {
            continue;
        }
        if (const auto text = read_bytes(dir / mask)) {
            if (const auto cpus = mask_to_list(*text)) {
                write_bytes(list_file, *cpus + "\n");
            }
        }
    }
}

std::vector<fs::path> numbered_dirs(const fs::path& dir, std::string_view prefix) {
    std::vector<fs::path> dirs;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > prefix.size() && name.starts_with(prefix) &&
            name.find_first_not_of("0123456789", prefix.size()) == std::string::npos &&
            it->is_directory()) {
            dirs.push_back(it->path());
        }
    }
    return dirs;
}

/// Brings the sysfs tree at `sys` to what a current kernel shows. Only the
/// CPU and node folders are walked, and not recursively: the gathered trees
/// hold symbolic links that loop.
void normalise(const fs::path& sys) {
    const fs::path cpu_dir = sys / "devices/system/cpu";
    std::vector<std::uint32_t> online;
    for (const fs::path& cpu : numbered_dirs(cpu_dir, "cpu")) {
        for (const fs::path& dir :
             {cpu, cpu / "topology", cpu / "cpufreq", cpu / "regs/identification"}) {
            strip_zero_bytes(dir);
        }
        add_lists(cpu / "topology", {{"thread_siblings", "thread_siblings_list"},
                                     {"core_siblings", "core_siblings_list"},
                                     {"core_cpus", "core_cpus_list"},
                                     {"package_cpus", "package_cpus_list"},
                                     {"cluster_cpus", "cluster_cpus_list"},
                                     {"die_cpus", "die_cpus_list"}});
        for (const fs::path& cache : numbered_dirs(cpu / "cache", "index")) {
            strip_zero_bytes(cache);
            add_lists(cache, {{"shared_cpu_map", "shared_cpu_list"}});
        }
        // Only "0" is offline: a CPU without the file cannot be taken
        // offline, and some trees hold it empty.
        const auto state = read_bytes(cpu / "online");
        if (!state || trimmed(*state) != "0") {
            online.push_back(
                static_cast<std::uint32_t>(std::stoul(cpu.filename().string().substr(3))));
        }
    }
    strip_zero_bytes(cpu_dir);
    if (!fs::exists(cpu_dir / "online")) {
        std::sort(online.begin(), online.end());
        std::string list;
        for (const std::uint32_t cpu : online) {
            list += fmt::format("{}{}", list.empty() ? "" : ",", cpu);
        }
        write_bytes(cpu_dir / "online", list + "\n");
    }
    for (const fs::path& node : numbered_dirs(sys / "devices/system/node", "node")) {
        strip_zero_bytes(node);
        add_lists(node, {{"cpumap", "cpulist"}});
    }
    for (const char* types : {"devices/cpu_core", "devices/cpu_atom"}) {
        strip_zero_bytes(sys / types);
    }
}

/// The CPUs of the cpuset the tree's process ran in (procfs names it, its
/// mount table says where the cpuset controller sits); nothing without one.
std::optional<std::vector<std::uint32_t>> cpuset_cpus(const fs::path& root) {
    const auto self = read_bytes(root / "proc/self/cpuset");
    const auto mounts = read_bytes(root / "proc/mounts");
    if (!self || !mounts) {
        return std::nullopt;
    }
    const fs::path group = fs::path(std::string(trimmed(*self))).relative_path();
    std::istringstream lines(*mounts);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device;
        std::string mount_point;
        std::string type;
        std::string options;
        fields >> device >> mount_point >> type >> options;
        std::vector<std::string_view> files;
        if (type == "cgroup2") {
            files = {"cpuset.cpus.effective"};
        } else if (type == "cpuset" ||
                   (type == "cgroup" &&
                    ("," + options + ",").find(",cpuset,") != std::string::npos)) {
            files = {"cpuset.effective_cpus", "cpuset.cpus", "cpus"};
        }
        for (const std::string_view file : files) {
            const fs::path path = root / fs::path(mount_point).relative_path() / group / file;
            if (const auto text = read_bytes(path)) {
                return parse_cpu_list(*text);
            }
        }
    }
    return std::nullopt;
}

/// Arm and RISC-V trees follow the Arm rules of the reader, as riscv64
/// builds do; all others (x86, POWER, s390x) the x86 ones.
sysfs_rules rules_of(const fs::path& root) {
    const auto cpuinfo = read_bytes(root / "proc/cpuinfo");
    const bool arm = (cpuinfo && cpuinfo->find("CPU implementer") != std::string::npos) ||
                     fs::exists(root / "sys/devices/system/cpu/cpu0/regs/identification/midr_el1");
    const bool riscv = cpuinfo && cpuinfo->find("\nisa\t\t: rv") != std::string::npos;
    return arm || riscv ? sysfs_rules::arm64 : sysfs_rules::x86;
}

/// The one folder an archive holds (its name need not be the archive's).
std::optional<fs::path> tree_root(const fs::path& unpacked) {
    std::vector<fs::path> roots;
    std::error_code error;
    for (fs::directory_iterator it(unpacked, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_directory()) {
            roots.push_back(it->path());
        }
    }
    return roots.size() == 1 ? std::optional(roots.front()) : std::nullopt;
}

TEST(RealMachines, EveryGatheredTreeGivesItsExpectedCounts) {
    std::map<std::string, machine_counts> expected;
    read_expected(machines_source() / "expected.tsv", expected);
    read_expected(machines_source() / "lab-expected.tsv", expected);

    std::set<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(machines_source(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string file = it->path().filename().string();
        if (file.ends_with(".tar.bz2")) {
            names.insert(file.substr(0, file.size() - 8));
        }
    }
    ASSERT_FALSE(names.empty()) << "no machine trees in " << machines_source();

    std::vector<std::uint32_t> every_cpu(max_cpu_number + 1);
    std::iota(every_cpu.begin(), every_cpu.end(), 0u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const auto row = expected.find(name);
        if (row == expected.end()) {
            ADD_FAILURE() << "no expected counts for " << name;
            continue;
        }
        const auto root = tree_root(fs::path(TAVRO_MACHINE_TREES) / name);
        if (!root) {
            ADD_FAILURE() << name << " is not unpacked in " << TAVRO_MACHINE_TREES
                          << " (run CMake again)";
            continue;
        }
        normalise(*root / "sys");
        const auto cpuset = cpuset_cpus(*root);
        const cpu_topology topology = build_topology(
            read_sysfs_topology(*root / "sys", cpuset ? *cpuset : every_cpu, rules_of(*root)));
        EXPECT_EQ(describe(count(topology)), describe(row->second));
    }
    for (const auto& [name, counts] : expected) {
        EXPECT_TRUE(names.contains(name)) << "expected counts for a missing tree: " << name;
    }
}

}  // namespace
}  // namespace tavro
