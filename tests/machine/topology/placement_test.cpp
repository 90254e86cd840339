#include "machine/topology/placement.h"

#include <gtest/gtest.h>

#include "tests/machine/fake_sysfs.h"

namespace tavro {
namespace {

using list = std::vector<std::uint32_t>;
using testing::fake_topology;
using testing::processors_of;

cpu_core make_core(std::uint32_t id, std::uint32_t level, list processors) {
    cpu_core core{.id = id, .perf_level = level, .logicals = {}};
    for (const std::uint32_t p : processors) {
        core.logicals.push_back({.index = static_cast<std::uint32_t>(core.logicals.size()),
                                 .core_id = id,
                                 .processor = p,
                                 .group = 0});
    }
    return core;
}

TEST(PlacementSlots, OneNodeOneCacheTwoThreadCores) {
    const cpu_topology topology = fake_topology("smt4");
    const list expected = {0, 2, 4, 6, 1, 3, 5, 7};
    const auto numa = build_numa_slots(topology);
    EXPECT_EQ(processors_of(numa), expected);
    EXPECT_EQ(processors_of(build_phte_slots(topology)), expected);
    EXPECT_EQ(numa[5], (logical_cpu{.index = 1, .core_id = 1, .processor = 3, .group = 0}));
}

TEST(PlacementSlots, AlternateBetweenNodesAndBetweenCaches) {
    const list across_nodes = {0, 2, 1, 3, 4, 6, 5, 7};
    EXPECT_EQ(processors_of(build_numa_slots(fake_topology("two_nodes"))), across_nodes);
    EXPECT_EQ(processors_of(build_phte_slots(fake_topology("two_nodes"))), across_nodes);

    const list across_caches = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15};
    EXPECT_EQ(processors_of(build_numa_slots(fake_topology("two_l3"))), across_caches);
    EXPECT_EQ(processors_of(build_phte_slots(fake_topology("two_l3"))), across_caches);
}

TEST(PlacementSlots, HybridOrdersDifferBetweenManagers) {
    const cpu_topology topology = fake_topology("hybrid");
    const list numa = {0, 2, 4, 6, 8, 10, 12, 13, 14, 15, 16, 17, 18, 19, 1, 3, 5, 7, 9, 11};
    const list phte = {0, 2, 4, 6, 8, 10, 1, 3, 5, 7, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    EXPECT_EQ(processors_of(build_numa_slots(topology)), numa);
    EXPECT_EQ(processors_of(build_phte_slots(topology)), phte);

    const list capacity_order = {0, 1, 2, 3};
    EXPECT_EQ(processors_of(build_phte_slots(fake_topology("no_l3"))), capacity_order);
}

TEST(PlacementSlots, NothingToPlace) {
    EXPECT_TRUE(build_numa_slots(cpu_topology{}).empty());
    EXPECT_TRUE(build_phte_slots(cpu_topology{}).empty());

    cpu_topology levelless;  // nodes but no level: nothing is selected
    levelless.nodes = {{.id = 0, .llc_groups = {{.id = 0, .cores = {make_core(0, 0, {0})}}}}};
    EXPECT_TRUE(build_numa_slots(levelless).empty());
    EXPECT_TRUE(build_phte_slots(levelless).empty());
}

TEST(SelectLevelGroups, TakesEachNodesNthGroupInTurnAndSkipsEmptyOnes) {
    cpu_topology topology;
    topology.perf_level_count = 2;
    topology.nodes = {
        {.id = 0,
         .llc_groups = {{.id = 0, .cores = {make_core(0, 0, {0, 1}), make_core(1, 1, {2})}},
                        {.id = 1, .cores = {make_core(2, 0, {3}), make_core(3, 0, {})}}}},
        {.id = 1,
         .llc_groups = {{.id = 2, .cores = {make_core(4, 1, {4})}},
                        {.id = 3, .cores = {make_core(5, 0, {5, 6, 7})}},
                        {.id = 4, .cores = {make_core(6, 0, {8})}}}}};

    const level_selection fast = select_level_groups(topology, 0);
    ASSERT_EQ(fast.groups.size(), 4u);  // node 1's first group has no level-0 core
    EXPECT_EQ(fast.groups[0][0]->id, 0u);
    EXPECT_EQ(fast.groups[1][0]->id, 2u);  // core 3 has no thread and is left out
    EXPECT_EQ(fast.groups[1].size(), 1u);
    EXPECT_EQ(fast.groups[2][0]->id, 5u);
    EXPECT_EQ(fast.groups[3][0]->id, 6u);
    EXPECT_EQ(fast.max_logicals, 3u);

    const level_selection slow = select_level_groups(topology, 1);
    ASSERT_EQ(slow.groups.size(), 2u);
    EXPECT_EQ(slow.max_logicals, 1u);
    EXPECT_EQ(select_level_groups(topology, 2).max_logicals, 0u);

    // One bucket per thread position: first threads 0, 3, 5, 8, then 1, 6, then 7.
    EXPECT_EQ(processors_of(build_phte_slots(topology)), (list{0, 3, 5, 8, 1, 6, 7, 2, 4}));
    EXPECT_EQ(processors_of(build_numa_slots(topology)), (list{0, 3, 5, 8, 2, 4, 1, 6, 7}));
}

TEST(FillBuckets, RoundRobinOverGroupsAndDropsThreadsBeyondTheBuckets) {
    const cpu_core a = make_core(0, 0, {0, 1, 2});
    const cpu_core b = make_core(1, 0, {3});
    const cpu_core c = make_core(2, 0, {4, 5});
    const level_selection selection{.groups = {{&a, &b}, {&c}}, .max_logicals = 3};
    slot_buckets buckets(2);
    fill_buckets(selection, buckets);
    ASSERT_EQ(buckets.size(), 2u);
    list first;
    for (const logical_cpu* cpu : buckets[0]) {
        first.push_back(cpu->processor);
    }
    EXPECT_EQ(first, (list{0, 4, 3}));
    ASSERT_EQ(buckets[1].size(), 2u);
    EXPECT_EQ(buckets[1][0], &a.logicals[1]);
    EXPECT_EQ(buckets[1][1], &c.logicals[1]);
}

}  // namespace
}  // namespace tavro
