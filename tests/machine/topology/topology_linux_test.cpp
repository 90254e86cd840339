#include "machine/topology/topology.h"

#include <cstdio>
#include <map>
#include <set>

#include <gtest/gtest.h>

namespace tavro {
namespace {

struct lscpu_row {
    std::uint32_t core = 0;
    std::uint32_t node = 0;
};

// CPU -> (core, node) as lscpu reports them; empty when lscpu cannot run.
std::map<std::uint32_t, lscpu_row> run_lscpu() {
    std::map<std::uint32_t, lscpu_row> rows;
    FILE* pipe = popen("lscpu -p=CPU,CORE,NODE 2>/dev/null", "r");
    if (pipe == nullptr) {
        return rows;
    }
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        unsigned cpu = 0;
        unsigned core = 0;
        unsigned node = 0;
        const int fields = std::sscanf(line, "%u,%u,%u", &cpu, &core, &node);
        if (line[0] != '#' && fields >= 2) {
            rows[cpu] = {.core = core, .node = fields == 3 ? node : 0};
        }
    }
    pclose(pipe);
    return rows;
}

TEST(SysfsTopology, ThisMachineAgreesWithLscpu) {
    const auto rows = run_lscpu();
    if (rows.empty()) {
        GTEST_SKIP() << "lscpu is not available";
    }
    const cpu_topology topology = detect_topology();
    std::set<std::uint32_t> expected_cpus;
    for (const std::uint32_t cpu : startup_allowed_cpus()) {
        if (rows.contains(cpu)) {
            expected_cpus.insert(cpu);
        }
    }
    std::set<std::uint32_t> seen_cpus;
    std::map<std::uint32_t, std::uint32_t> core_of_lscpu_core;
    for (const numa_node& node : topology.nodes) {
        for (const llc_group& group : node.llc_groups) {
            for (const cpu_core& core : group.cores) {
                for (const logical_cpu& cpu : core.logicals) {
                    ASSERT_TRUE(rows.contains(cpu.processor)) << cpu.processor;
                    const lscpu_row& row = rows.at(cpu.processor);
                    EXPECT_EQ(row.node, node.id) << cpu.processor;
                    // One lscpu core per detected core, and the other way round.
                    const auto [it, added] = core_of_lscpu_core.emplace(row.core, core.id);
                    EXPECT_EQ(it->second, core.id) << cpu.processor;
                    seen_cpus.insert(cpu.processor);
                }
            }
        }
    }
    EXPECT_EQ(seen_cpus, expected_cpus);
    EXPECT_EQ(core_count(topology), core_of_lscpu_core.size());
}

}  // namespace
}  // namespace tavro
