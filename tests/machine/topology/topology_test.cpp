#include "machine/topology/topology.h"

#include <thread>

#include <gtest/gtest.h>

namespace tavro {
namespace {

processor_ref cpu(std::uint32_t processor, std::uint16_t group = 0) {
    return {.group = group, .processor = processor};
}

TEST(BuildTopology, OrdersNodesGroupsCoresAndNumbersLevels) {
    topology_records records;
    // Core 0: node 1, cache 4. Core 1 spans nodes: its last thread decides.
    // Core 2: its first thread decides the cache. Core 3: no records at all.
    records.cores = {{.efficiency_class = 2, .logicals = {cpu(6), cpu(7)}},
                     {.efficiency_class = 5, .logicals = {cpu(0), cpu(1, 1)}},
                     {.efficiency_class = 2, .logicals = {cpu(2), cpu(3)}},
                     {.efficiency_class = 0, .logicals = {cpu(9)}}};
    records.processors = {
        {.cpu = cpu(6), .node = 1, .llc_group = 4}, {.cpu = cpu(7), .node = 1, .llc_group = 4},
        {.cpu = cpu(0), .node = 0, .llc_group = 4}, {.cpu = cpu(1, 1), .node = 1, .llc_group = 0},
        {.cpu = cpu(2), .node = 0, .llc_group = 2}, {.cpu = cpu(3), .node = 0, .llc_group = 3}};

    const cpu_topology topology = build_topology(records);

    EXPECT_EQ(topology.perf_level_count, 3u);
    ASSERT_EQ(topology.nodes.size(), 2u);
    const numa_node& node0 = topology.nodes[0];
    const numa_node& node1 = topology.nodes[1];
    EXPECT_EQ(node0.id, 0u);
    ASSERT_EQ(node0.llc_groups.size(), 2u);
    EXPECT_EQ(node0.llc_groups[0].id, 0u);
    ASSERT_EQ(node0.llc_groups[0].cores.size(), 1u);
    EXPECT_EQ(node0.llc_groups[0].cores[0].id, 3u);
    EXPECT_EQ(node0.llc_groups[0].cores[0].perf_level, 2u);
    EXPECT_EQ(node0.llc_groups[1].id, 2u);
    EXPECT_EQ(node0.llc_groups[1].cores[0].id, 2u);
    EXPECT_EQ(node0.llc_groups[1].cores[0].perf_level, 1u);

    EXPECT_EQ(node1.id, 1u);
    ASSERT_EQ(node1.llc_groups.size(), 1u);
    EXPECT_EQ(node1.llc_groups[0].id, 4u);
    const auto& cores = node1.llc_groups[0].cores;
    ASSERT_EQ(cores.size(), 2u);
    EXPECT_EQ(cores[0].id, 0u);
    EXPECT_EQ(cores[0].perf_level, 1u);
    EXPECT_EQ(cores[1].id, 1u);
    EXPECT_EQ(cores[1].perf_level, 0u);
    const std::vector<logical_cpu> expected = {
        {.index = 0, .core_id = 1, .processor = 0, .group = 0},
        {.index = 1, .core_id = 1, .processor = 1, .group = 1}};
    EXPECT_EQ(cores[1].logicals, expected);
    EXPECT_EQ(core_count(topology), 4u);
    EXPECT_EQ(logical_cpu_count(topology), 7u);
}

TEST(BuildTopology, CoreWithoutThreadsAndEmptyRecords) {
    topology_records records;
    records.cores = {{.efficiency_class = 7, .logicals = {}}};
    const cpu_topology topology = build_topology(records);
    ASSERT_EQ(topology.nodes.size(), 1u);
    EXPECT_EQ(topology.nodes[0].id, 0u);
    EXPECT_EQ(topology.nodes[0].llc_groups[0].id, 0u);
    EXPECT_TRUE(topology.nodes[0].llc_groups[0].cores[0].logicals.empty());
    EXPECT_EQ(topology.perf_level_count, 1u);

    EXPECT_EQ(build_topology({}), cpu_topology{});
}

TEST(CoreCount, FallsBackOnlyWithoutNodes) {
    EXPECT_EQ(core_count(cpu_topology{}), std::thread::hardware_concurrency());
    EXPECT_EQ(logical_cpu_count(cpu_topology{}), std::thread::hardware_concurrency());
    cpu_topology coreless;
    coreless.nodes = {{.id = 0, .llc_groups = {{.id = 0, .cores = {}}}}};
    EXPECT_EQ(core_count(coreless), 0u);
    EXPECT_EQ(logical_cpu_count(coreless), 0u);
}

TEST(ParseCpuList, RangesSinglesAndMalformedText) {
    using list = std::vector<std::uint32_t>;
    EXPECT_EQ(parse_cpu_list("0-3,8,10-11\n"), (list{0, 1, 2, 3, 8, 10, 11}));
    EXPECT_EQ(parse_cpu_list("5"), (list{5}));
    EXPECT_EQ(parse_cpu_list("8-9,0,9,3-3"), (list{0, 3, 8, 9}));
    EXPECT_EQ(parse_cpu_list(""), list{});
    EXPECT_EQ(parse_cpu_list(" \n"), list{});
    EXPECT_EQ(parse_cpu_list("65535"), (list{65535}));
    for (const char* bad : {"3-1", "1,", ",1", "1,,2", "-1", "1-", "a", "1 2", "0x1", "+1", "65536",
                            "0-99999999999", "0-3:2/4"}) {
        EXPECT_EQ(parse_cpu_list(bad), std::nullopt) << bad;
    }
}

TEST(EnsureTopology, DetectsOnceAndKeepsTheStoredValue) {
    topology_cache cache;
    const cpu_topology& first = ensure_topology(cache);
    ASSERT_TRUE(cache.has_value());
    EXPECT_EQ(&first, &*cache);
    EXPECT_EQ(first, detect_topology());

    cpu_topology marker;
    marker.perf_level_count = 42;
    cache = marker;
    EXPECT_EQ(ensure_topology(cache).perf_level_count, 42u);
}

}  // namespace
}  // namespace tavro
