#include "bench/auto_thread_count.h"

#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "bench/bench_config.h"

namespace tavro {
namespace {

constexpr std::uint64_t gib = std::uint64_t{1} << 30;

// One node and cache group with `cores` cores of `threads` hardware threads each.
cpu_topology uniform(std::uint32_t cores, std::uint32_t threads) {
    llc_group group;
    for (std::uint32_t c = 0; c < cores; ++c) {
        cpu_core core{.id = c, .perf_level = 0, .logicals = {}};
        for (std::uint32_t t = 0; t < threads; ++t) {
            core.logicals.push_back(
                {.index = t, .core_id = c, .processor = c * threads + t, .group = 0});
        }
        group.cores.push_back(std::move(core));
    }
    cpu_topology topology;
    topology.perf_level_count = 1;
    topology.nodes = {{.id = 0, .llc_groups = {std::move(group)}}};
    return topology;
}

thread_count_bounds memory(std::uint64_t available) {
    return {.available_bytes = available};
}

TEST(AutoThreadCount, CoresLimitedByMemoryThatFits) {
    // 514^3 x 64 bytes per thread do not fit in 4 GiB: one thread, which
    // the run then refuses with what it needs.
    EXPECT_EQ(auto_thread_count(uniform(8, 1), 512, memory(4 * gib)), 1u);
    // 194^3 x 64 bytes fit 36 times in 16 GiB; hardware threads count once.
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, memory(16 * gib)), 8u);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, memory(0)), 8u);  // memory unknown
    // Each thread needs room beside its grids, and the process some more:
    // exactly three grids in memory fit only two threads.
    const std::uint64_t grid = grid_bytes_per_thread(192);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, memory(4 * grid - 1)), 3u);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, memory(3 * grid)), 2u);
}

TEST(AutoThreadCount, CpuQuotaAndThreadCapBoundTheCores) {
    const std::uint64_t grid = grid_bytes_per_thread(192);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, {.available_bytes = 16 * gib, .cpu_quota = 3}),
              3u);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, {.available_bytes = 16 * gib, .cpu_quota = 20}),
              8u);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, {.available_bytes = 3 * grid, .cpu_quota = 3}),
              2u);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, {.cpu_quota = 0, .thread_cap = 5}), 5u);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, {.cpu_quota = 2, .thread_cap = 5}), 2u);
    EXPECT_EQ(auto_thread_count(uniform(8, 2), 192, {.thread_cap = 1}), 1u);
}

TEST(AutoThreadCount, AddressSpaceLimitCountsStacksAndArenas) {
    // Under ulimit -v: each N = 64 thread takes 17.56 MiB of grids, an 8 MiB
    // stack and a 64 MiB arena of the 192 MiB left, with 4 MiB to spare.
    constexpr std::uint64_t mib = 1024 * 1024;
    thread_count_bounds bounds = memory(16 * gib);
    bounds.address_space = {192 * mib, 8 * mib, 64 * mib, 16};
    EXPECT_EQ(auto_thread_count(uniform(8, 1), 64, bounds), 2u);
    bounds.address_space.left = 640 * mib;
    EXPECT_EQ(auto_thread_count(uniform(8, 1), 64, bounds), 7u);
    // Not even one: one thread, which the run then refuses.
    bounds.address_space.left = 50 * mib;
    EXPECT_EQ(auto_thread_count(uniform(8, 1), 64, bounds), 1u);
}

TEST(AutoThreadCount, LargePagesCountThePoolInWholePagesPerArray) {
    // An N = 64 array of 9,199,872 bytes takes five 2 MiB pages: a pool of
    // ten free pages holds one thread's grids.
    constexpr std::uint64_t huge = 2 * 1024 * 1024;
    const thread_count_bounds pool{.available_bytes = 10 * huge, .large_page_size = huge};
    EXPECT_EQ(auto_thread_count(uniform(8, 1), 64, pool), 1u);
    EXPECT_EQ(auto_thread_count(uniform(8, 1), 64,
                                {.available_bytes = 39 * huge, .large_page_size = huge}),
              3u);
    // An empty pool holds no grid: one thread, which the run refuses.
    EXPECT_EQ(auto_thread_count(uniform(8, 1), 64, {.large_page_size = huge}), 1u);
}

TEST(AutoThreadCount, NoCoresAndUnknownTopology) {
    cpu_topology coreless;
    coreless.nodes = {{.id = 0, .llc_groups = {{.id = 0, .cores = {}}}}};
    EXPECT_EQ(auto_thread_count(coreless, 192, memory(16 * gib)), 1u);

    const std::uint32_t hardware = std::thread::hardware_concurrency();
    EXPECT_EQ(auto_thread_count(cpu_topology{}, 192, memory(0)), hardware == 0 ? 1u : hardware);
}

TEST(AutoThreadCount, HugeFitSaturatesInsteadOfWrapping) {
    // 2^32 + 1 grids would truncate to a count of 1.
    const std::uint64_t per_thread = grid_bytes_per_thread(64);
    const std::uint64_t available = ((std::uint64_t{1} << 32) + 1) * per_thread;
    EXPECT_EQ(auto_thread_count(uniform(8, 1), 64, memory(available)), 8u);

    // An edge whose byte count wraps to 0 must not divide by zero.
    const std::uint64_t wrapping = (std::uint64_t{1} << 20) - 2;  // (2^20)^3 x 64 = 2^66
    ASSERT_EQ(grid_bytes_per_thread(wrapping), 0u);
    EXPECT_EQ(auto_thread_count(uniform(8, 1), wrapping, memory(16 * gib)), 8u);
}

}  // namespace
}  // namespace tavro
