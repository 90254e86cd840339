#include "machine/topology/topology.h"

#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/machine/fake_sysfs.h"

namespace tavro {
namespace {

using testing::fake_root;
using testing::fake_sysfs;
using testing::fake_topology;

std::string printed(const cpu_topology& topology) {
    std::ostringstream out;
    print_topology(topology, out);
    return out.str();
}

std::vector<std::uint32_t> core_ids(const llc_group& group) {
    std::vector<std::uint32_t> ids;
    for (const cpu_core& core : group.cores) {
        ids.push_back(core.id);
    }
    return ids;
}

TEST(SysfsTopology, OneNodeOneCacheFourTwoThreadCores) {
    // cpu0 also reports a level-2 cache shared with cpu1 only; it must not
    // be mistaken for the last-level cache.
    const cpu_topology topology = fake_topology("smt4");
    EXPECT_EQ(printed(topology),
              "perf_level_count=1\n"
              "numa node id=0\n"
              "|--llc id=0\n"
              "|  |--core id=0 perf_level=0\n"
              "|  |  |--logical idx=0 os=0\n"
              "|  |  |--logical idx=1 os=1\n"
              "|  |--core id=1 perf_level=0\n"
              "|  |  |--logical idx=0 os=2\n"
              "|  |  |--logical idx=1 os=3\n"
              "|  |--core id=2 perf_level=0\n"
              "|  |  |--logical idx=0 os=4\n"
              "|  |  |--logical idx=1 os=5\n"
              "|  |--core id=3 perf_level=0\n"
              "|  |  |--logical idx=0 os=6\n"
              "|  |  |--logical idx=1 os=7\n");
    EXPECT_EQ(core_count(topology), 4u);
}

TEST(SysfsTopology, HybridCoresTakeTheirClassFromTheKernelsCoreTypes) {
    // The tree also has differing cpu_capacity values among performance
    // cores; the core types take precedence, giving exactly two levels.
    const cpu_topology topology = fake_topology("hybrid");
    EXPECT_EQ(topology.perf_level_count, 2u);
    EXPECT_EQ(core_count(topology), 14u);
    ASSERT_EQ(topology.nodes.size(), 1u);  // no node directory: all on node 0
    EXPECT_EQ(topology.nodes[0].id, 0u);
    ASSERT_EQ(topology.nodes[0].llc_groups.size(), 1u);
    for (const cpu_core& core : topology.nodes[0].llc_groups[0].cores) {
        const bool performance = core.id < 6;
        EXPECT_EQ(core.perf_level, performance ? 0u : 1u) << core.id;
        ASSERT_EQ(core.logicals.size(), performance ? 2u : 1u) << core.id;
        EXPECT_EQ(core.logicals[0].processor, performance ? 2 * core.id : core.id + 6);
    }
}

TEST(SysfsTopology, TwoNodesWithOneCacheEach) {
    // Hardware threads numbered as Linux usually does: siblings half the
    // machine apart, read from the older sibling-list name.
    EXPECT_EQ(printed(fake_topology("two_nodes")),
              "perf_level_count=1\n"
              "numa node id=0\n"
              "|--llc id=0\n"
              "|  |--core id=0 perf_level=0\n"
              "|  |  |--logical idx=0 os=0\n"
              "|  |  |--logical idx=1 os=4\n"
              "|  |--core id=1 perf_level=0\n"
              "|  |  |--logical idx=0 os=1\n"
              "|  |  |--logical idx=1 os=5\n"
              "numa node id=1\n"
              "|--llc id=1\n"
              "|  |--core id=2 perf_level=0\n"
              "|  |  |--logical idx=0 os=2\n"
              "|  |  |--logical idx=1 os=6\n"
              "|  |--core id=3 perf_level=0\n"
              "|  |  |--logical idx=0 os=3\n"
              "|  |  |--logical idx=1 os=7\n");
}

TEST(SysfsTopology, TwoCachesInOneNode) {
    const cpu_topology topology = fake_topology("two_l3");
    ASSERT_EQ(topology.nodes.size(), 1u);
    const auto& groups = topology.nodes[0].llc_groups;
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].id, 0u);
    EXPECT_EQ(groups[1].id, 1u);
    EXPECT_EQ(core_ids(groups[0]), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(core_ids(groups[1]), (std::vector<std::uint32_t>{8, 9, 10, 11, 12, 13, 14, 15}));

    // Restricted to the second cache, the group keeps its number.
    const std::vector<std::uint32_t> allowed = {9, 12};
    const cpu_topology second = build_topology(read_sysfs_topology(fake_sysfs("two_l3"), allowed));
    ASSERT_EQ(second.nodes.size(), 1u);
    ASSERT_EQ(second.nodes[0].llc_groups.size(), 1u);
    EXPECT_EQ(second.nodes[0].llc_groups[0].id, 1u);
}

TEST(SysfsTopology, NoLevelThreeCacheAndOfflineCpu) {
    // x86 rules: no level 3 puts every core in group 0, and cpu_capacity
    // (1024 and 446 here) is not a core type.
    EXPECT_EQ(printed(fake_topology("no_l3")),
              "perf_level_count=1\n"
              "numa node id=0\n"
              "|--llc id=0\n"
              "|  |--core id=0 perf_level=0\n"
              "|  |  |--logical idx=0 os=0\n"
              "|  |--core id=1 perf_level=0\n"
              "|  |  |--logical idx=0 os=1\n"
              "|  |--core id=2 perf_level=0\n"
              "|  |  |--logical idx=0 os=2\n"
              "|  |--core id=3 perf_level=0\n"
              "|  |  |--logical idx=0 os=3\n");
}

// The efficiency level of each core (in core order) of a tree written by a
// test; single-thread cores numbered as their CPUs.
std::vector<std::uint32_t> levels(const fake_root& root, std::uint32_t cpus, sysfs_rules rules) {
    root.write("devices/system/cpu/online", fmt::format("0-{}\n", cpus - 1));
    for (std::uint32_t cpu = 0; cpu < cpus; ++cpu) {
        root.write(fmt::format("devices/system/cpu/cpu{}/topology/core_cpus_list", cpu),
                   fmt::format("{}\n", cpu));
    }
    std::vector<std::uint32_t> allowed(cpus);
    std::iota(allowed.begin(), allowed.end(), 0u);
    const cpu_topology topology = build_topology(read_sysfs_topology(root.path(), allowed, rules));
    std::vector<std::uint32_t> result;
    for (const cpu_core& core : topology.nodes.at(0).llc_groups.at(0).cores) {
        result.push_back(core.perf_level);
    }
    return result;
}

void write_per_cpu(const fake_root& root, const std::string& file,
                   const std::vector<std::string>& values) {
    for (std::size_t cpu = 0; cpu < values.size(); ++cpu) {
        root.write(fmt::format("devices/system/cpu/cpu{}/{}", cpu, file), values[cpu] + "\n");
    }
}

using levels_t = std::vector<std::uint32_t>;

TEST(SysfsTopology, ArmEfficiencyClassesAreCoreTypesRankedByCapacity) {
    // Two Cortex-A725 (part d87) then two Cortex-X925 (d85), whose firmware
    // capacities differ core by core, as on a 20-core Arm desktop.
    const std::vector<std::string> midrs = {"0x00000000410fd871", "0x00000000410fd871",
                                            "0x00000000410fd851", "0x00000000410fd851"};
    const std::vector<std::string> capacities = {"718", "731", "997", "1024"};
    const std::vector<std::string> frequencies = {"2808000", "2808000", "3900000", "3900000"};
    {
        fake_root root;
        write_per_cpu(root, "regs/identification/midr_el1", midrs);
        write_per_cpu(root, "cpu_capacity", capacities);
        write_per_cpu(root, "cpufreq/cpuinfo_max_freq", frequencies);
        EXPECT_EQ(levels(root, 4, sysfs_rules::arm64), (levels_t{1, 1, 0, 0}));
        // x86 rules know no MIDR and no capacity: one class.
        EXPECT_EQ(levels(root, 4, sysfs_rules::x86), (levels_t{0, 0, 0, 0}));
    }
    {
        // Without capacities, or with the kernel's default one for all, the
        // maximum frequency ranks the types.
        fake_root root;
        write_per_cpu(root, "regs/identification/midr_el1", midrs);
        write_per_cpu(root, "cpufreq/cpuinfo_max_freq", frequencies);
        EXPECT_EQ(levels(root, 4, sysfs_rules::arm64), (levels_t{1, 1, 0, 0}));
        write_per_cpu(root, "cpu_capacity", {"1024", "1024", "1024", "1024"});
        EXPECT_EQ(levels(root, 4, sysfs_rules::arm64), (levels_t{1, 1, 0, 0}));
    }
    {
        // Types that nothing ranks share one class; so do cores of one type
        // whatever their capacities.
        fake_root root;
        write_per_cpu(root, "regs/identification/midr_el1", midrs);
        EXPECT_EQ(levels(root, 4, sysfs_rules::arm64), (levels_t{0, 0, 0, 0}));
        write_per_cpu(root, "regs/identification/midr_el1",
                      {midrs[2], midrs[2], midrs[2], midrs[2]});
        write_per_cpu(root, "cpu_capacity", capacities);
        EXPECT_EQ(levels(root, 4, sysfs_rules::arm64), (levels_t{0, 0, 0, 0}));
    }
    {
        // Without MIDR (older kernels): four capacities are no clean split,
        // the two maximum frequencies are; one frequency is one class.
        fake_root root;
        write_per_cpu(root, "cpu_capacity", capacities);
        write_per_cpu(root, "cpufreq/cpuinfo_max_freq", frequencies);
        EXPECT_EQ(levels(root, 4, sysfs_rules::arm64), (levels_t{1, 1, 0, 0}));
        write_per_cpu(root, "cpufreq/cpuinfo_max_freq",
                      {"2808000", "2808000", "2808000", "2808000"});
        EXPECT_EQ(levels(root, 4, sysfs_rules::arm64), (levels_t{0, 0, 0, 0}));
        write_per_cpu(root, "cpu_capacity", {"1024", "446", "1024", "446"});
        EXPECT_EQ(levels(root, 4, sysfs_rules::arm64), (levels_t{0, 1, 0, 1}));
    }
}

TEST(SysfsTopology, X86FrequenciesGiveTwoClassesOnlyWhenTheySplitCleanly) {
    fake_root root;
    // Without the hybrid event sources: two performance cores (base 1.9 GHz,
    // one favoured to turbo higher) and two efficient ones (base 1.4 GHz).
    write_per_cpu(root, "cpufreq/base_frequency", {"1900000", "1900000", "1400000", "1400000"});
    write_per_cpu(root, "cpufreq/cpuinfo_max_freq", {"5200000", "5000000", "3900000", "3900000"});
    EXPECT_EQ(levels(root, 4, sysfs_rules::x86), (levels_t{0, 0, 1, 1}));
    // A maximum that does not follow the base frequency is no clean split.
    write_per_cpu(root, "cpufreq/cpuinfo_max_freq", {"5200000", "3900000", "4000000", "3900000"});
    EXPECT_EQ(levels(root, 4, sysfs_rules::x86), (levels_t{0, 0, 0, 0}));
    // One base frequency: favoured cores only turbo higher.
    write_per_cpu(root, "cpufreq/base_frequency", {"1900000", "1900000", "1900000", "1900000"});
    write_per_cpu(root, "cpufreq/cpuinfo_max_freq", {"5200000", "5000000", "5000000", "5000000"});
    EXPECT_EQ(levels(root, 4, sysfs_rules::x86), (levels_t{0, 0, 0, 0}));
    // Three base frequencies.
    write_per_cpu(root, "cpufreq/base_frequency", {"2000000", "1900000", "1400000", "1400000"});
    write_per_cpu(root, "cpufreq/cpuinfo_max_freq", {"5200000", "5000000", "3900000", "3900000"});
    EXPECT_EQ(levels(root, 4, sysfs_rules::x86), (levels_t{0, 0, 0, 0}));
    // The kernel's core types decide where it names them.
    root.write("devices/cpu_core/cpus", "2-3\n");
    root.write("devices/cpu_atom/cpus", "0-1\n");
    EXPECT_EQ(levels(root, 4, sysfs_rules::x86), (levels_t{1, 1, 0, 0}));
}

TEST(SysfsTopology, ArmCoresWithoutLevelThreeGroupBySharedCacheOrCluster) {
    const auto arm_rule = [](const std::string& machine) {
        const std::vector<std::uint32_t> allowed = {0, 1, 2, 3, 4, 5, 6, 7};
        return build_topology(
            read_sysfs_topology(fake_sysfs(machine), allowed, sysfs_rules::arm64));
    };
    // Two clusters of private caches: little cores (capacity 446) first in
    // CPU order, the big ones (1024) the faster level.
    cpu_topology topology = arm_rule("arm_clusters");
    EXPECT_EQ(topology.perf_level_count, 2u);
    ASSERT_EQ(topology.nodes.size(), 1u);
    ASSERT_EQ(topology.nodes[0].llc_groups.size(), 2u);
    for (std::uint32_t g = 0; g < 2; ++g) {
        const llc_group& group = topology.nodes[0].llc_groups[g];
        EXPECT_EQ(group.id, g);
        EXPECT_EQ(core_ids(group),
                  (std::vector<std::uint32_t>{4 * g, 4 * g + 1, 4 * g + 2, 4 * g + 3}));
        for (const cpu_core& core : group.cores) {
            EXPECT_EQ(core.perf_level, 1 - g) << core.id;
        }
    }
    EXPECT_EQ(core_count(topology), 8u);

    // A level 2 shared by pairs of cores wins over the cluster.
    topology = arm_rule("no_l3");
    ASSERT_EQ(topology.nodes.size(), 1u);
    ASSERT_EQ(topology.nodes[0].llc_groups.size(), 2u);
    EXPECT_EQ(core_ids(topology.nodes[0].llc_groups[0]), (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(core_ids(topology.nodes[0].llc_groups[1]), (std::vector<std::uint32_t>{2, 3}));

    // Firmware that describes no caches: the kernel lists each level 1 and
    // the level 2 as shared by all eight CPUs, which cannot be; the two
    // clusters group the cores.
    {
        fake_root root;
        root.write("devices/system/cpu/online", "0-7\n");
        for (std::uint32_t cpu = 0; cpu < 8; ++cpu) {
            const std::string dir = fmt::format("devices/system/cpu/cpu{}/", cpu);
            root.write(dir + "topology/core_cpus_list", fmt::format("{}\n", cpu));
            root.write(dir + "topology/cluster_cpus_list", cpu < 4 ? "0-3\n" : "4-7\n");
            root.write(dir + "topology/package_cpus_list", "0-7\n");
            for (const auto& [index, level] : {std::pair{0, 1}, {1, 1}, {2, 2}}) {
                root.write(fmt::format("{}cache/index{}/level", dir, index),
                           fmt::format("{}\n", level));
                root.write(fmt::format("{}cache/index{}/shared_cpu_list", dir, index), "0-7\n");
            }
        }
        const std::vector<std::uint32_t> allowed = {0, 1, 2, 3, 4, 5, 6, 7};
        topology = build_topology(read_sysfs_topology(root.path(), allowed, sysfs_rules::arm64));
        ASSERT_EQ(topology.nodes.size(), 1u);
        ASSERT_EQ(topology.nodes[0].llc_groups.size(), 2u);
        EXPECT_EQ(core_ids(topology.nodes[0].llc_groups[0]),
                  (std::vector<std::uint32_t>{0, 1, 2, 3}));
        EXPECT_EQ(core_ids(topology.nodes[0].llc_groups[1]),
                  (std::vector<std::uint32_t>{4, 5, 6, 7}));
        // A level 2 shared within the cluster still groups by itself.
        for (std::uint32_t cpu = 0; cpu < 8; ++cpu) {
            root.write(fmt::format("devices/system/cpu/cpu{}/cache/index2/shared_cpu_list", cpu),
                       fmt::format("{}-{}\n", cpu / 2 * 2, cpu / 2 * 2 + 1));
        }
        topology = build_topology(read_sysfs_topology(root.path(), allowed, sysfs_rules::arm64));
        EXPECT_EQ(topology.nodes.at(0).llc_groups.size(), 4u);
    }

    // x86 keeps every core in one group without a level 3, and a level 3
    // decides on Arm as well.
    EXPECT_EQ(fake_topology("arm_clusters").nodes[0].llc_groups.size(), 1u);
    EXPECT_EQ(arm_rule("smt4"), fake_topology("smt4"));
}

TEST(SysfsTopology, RestrictedAllowedSet) {
    // Unsorted, repeated and offline numbers in the allowed set are harmless.
    const std::vector<std::uint32_t> allowed = {6, 1, 99, 4, 5, 3, 1};
    const cpu_topology topology = build_topology(read_sysfs_topology(fake_sysfs("smt4"), allowed));
    EXPECT_EQ(printed(topology),
              "perf_level_count=1\n"
              "numa node id=0\n"
              "|--llc id=0\n"
              "|  |--core id=0 perf_level=0\n"
              "|  |  |--logical idx=0 os=1\n"
              "|  |--core id=1 perf_level=0\n"
              "|  |  |--logical idx=0 os=3\n"
              "|  |--core id=2 perf_level=0\n"
              "|  |  |--logical idx=0 os=4\n"
              "|  |  |--logical idx=1 os=5\n"
              "|  |--core id=3 perf_level=0\n"
              "|  |  |--logical idx=0 os=6\n");
    EXPECT_EQ(core_count(topology), 4u);

    EXPECT_EQ(build_topology(read_sysfs_topology(fake_sysfs("smt4"), {})), cpu_topology{});
}

TEST(SysfsTopology, FailedReadGivesEmptyTopology) {
    const cpu_topology topology = fake_topology("no_such_machine");
    EXPECT_EQ(topology, cpu_topology{});
    EXPECT_EQ(core_count(topology), std::thread::hardware_concurrency());
    EXPECT_EQ(printed(topology), "perf_level_count=0\n");
}

}  // namespace
}  // namespace tavro
