#include "machine/topology/topology.h"

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/machine/fake_sysfs.h"

namespace tavro {
namespace {

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

TEST(SysfsTopology, NoLevelThreeCacheCapacityClassesAndOfflineCpu) {
    EXPECT_EQ(printed(fake_topology("no_l3")),
              "perf_level_count=2\n"
              "numa node id=0\n"
              "|--llc id=0\n"
              "|  |--core id=0 perf_level=0\n"
              "|  |  |--logical idx=0 os=0\n"
              "|  |--core id=1 perf_level=0\n"
              "|  |  |--logical idx=0 os=1\n"
              "|  |--core id=2 perf_level=1\n"
              "|  |  |--logical idx=0 os=2\n"
              "|  |--core id=3 perf_level=1\n"
              "|  |  |--logical idx=0 os=3\n");
}

TEST(SysfsTopology, ArmCoresWithoutLevelThreeGroupBySharedCacheOrCluster) {
    const auto arm_rule = [](const std::string& machine) {
        const std::vector<std::uint32_t> allowed = {0, 1, 2, 3, 4, 5, 6, 7};
        return build_topology(read_sysfs_topology(fake_sysfs(machine), allowed,
                                                  llc_fallback::shared_cache_or_cluster));
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
