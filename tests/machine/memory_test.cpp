#include "machine/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace tavro {
namespace {

constexpr std::string_view sample_meminfo =
    "MemTotal:       24683716 kB\n"
    "MemFree:        20000000 kB\n"
    "MemAvailable:   24386660 kB\n"
    "HugePages_Total:       0\n"
    "Hugepagesize:       2048 kB\n";

std::string read_file(const char* path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(MeminfoBytes, ReadsKeysAndRejectsMalformedLines) {
    EXPECT_EQ(meminfo_bytes(sample_meminfo, "MemAvailable"), 24386660ull * 1024);
    EXPECT_EQ(meminfo_bytes(sample_meminfo, "Hugepagesize"), 2097152u);
    EXPECT_EQ(meminfo_bytes(sample_meminfo, "HugePages_Total"), 0u);
    // A key must match up to its colon, not as a prefix of another key.
    EXPECT_EQ(meminfo_bytes(sample_meminfo, "Mem"), 0u);
    EXPECT_EQ(meminfo_bytes(sample_meminfo, "MemShared"), 0u);
    EXPECT_EQ(meminfo_bytes("", "MemAvailable"), 0u);
    EXPECT_EQ(meminfo_bytes("MemAvailable:\n", "MemAvailable"), 0u);
    EXPECT_EQ(meminfo_bytes("MemAvailable: lots kB\n", "MemAvailable"), 0u);
    EXPECT_EQ(meminfo_bytes("MemAvailable: 99999999999999999999 kB\n", "MemAvailable"), 0u);
    EXPECT_EQ(meminfo_bytes("MemAvailable: 18014398509481984 kB\n", "MemAvailable"), 0u);
    EXPECT_EQ(meminfo_bytes("MemAvailable: 7 kB", "MemAvailable"), 7168u);
}

TEST(LargePageRequestSize, RoundsUpToWholePages) {
    constexpr std::size_t page = 2097152;
    EXPECT_EQ(large_page_request_size(9199872, page), 10485760u);
    EXPECT_EQ(large_page_request_size(10485760, page), 10485760u);
    EXPECT_EQ(large_page_request_size(1, page), page);
    EXPECT_EQ(large_page_request_size(0, page), 0u);
    EXPECT_EQ(large_page_request_size(9199872, 0), 0u);
    EXPECT_EQ(large_page_request_size(std::numeric_limits<std::size_t>::max() - 5, page), 0u);
}

TEST(AdmitGridBytes, RefusesWhatAvailableMemoryCannotBack) {
    EXPECT_TRUE(admit_grid_bytes(0, 1000, 1000));
    EXPECT_FALSE(admit_grid_bytes(0, 1001, 1000));
    EXPECT_TRUE(admit_grid_bytes(600, 400, 1000));
    EXPECT_FALSE(admit_grid_bytes(601, 400, 1000));
    EXPECT_FALSE(admit_grid_bytes(2, std::numeric_limits<std::uint64_t>::max(), 1000));
    // An unknown budget refuses nothing.
    EXPECT_TRUE(admit_grid_bytes(5, std::numeric_limits<std::uint64_t>::max(), 0));
}

TEST(GridMemoryLedger, BudgetIsReadWhenNothingIsHeld) {
    int reads = 0;
    std::uint64_t available = 1000;
    grid_memory_ledger ledger([&] {
        ++reads;
        return available;
    });
    {
        auto first = ledger.reserve(600);
        ASSERT_TRUE(first.has_value());
        // Memory held by our own grids is no longer "available": the figure
        // read at zero stays the budget.
        available = 400;
        EXPECT_FALSE(ledger.reserve(401).has_value());
        auto second = ledger.reserve(400);
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(ledger.live_bytes(), 1000u);
        EXPECT_EQ(reads, 1);

        grid_memory_ledger::reservation moved = std::move(*second);
        EXPECT_EQ(second->bytes(), 0u);
        EXPECT_EQ(ledger.live_bytes(), 1000u);
    }
    EXPECT_EQ(ledger.live_bytes(), 0u);
    available = 2000;
    EXPECT_TRUE(ledger.reserve(1500).has_value());
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(ledger.live_bytes(), 0u);
}

TEST(GridMemoryLedger, CountsConcurrentClaimsExactly) {
    grid_memory_ledger ledger([] { return std::uint64_t{1} << 40; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int n = 0; n < 2000; ++n) {
                auto claim = ledger.reserve(64);
                EXPECT_TRUE(claim.has_value());
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(ledger.live_bytes(), 0u);
}

TEST(AllocAligned, GivesAlignedMoveOnlyStorage) {
    memory_block block = alloc_aligned(1000);
    ASSERT_TRUE(block);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data()) % 64, 0u);
    EXPECT_EQ(block.size(), 1000u);
    EXPECT_EQ(block.source(), memory_source::aligned_heap);
    std::memset(block.data(), 0xab, block.size());

    memory_block moved = std::move(block);
    EXPECT_FALSE(block);
    EXPECT_EQ(block.size(), 0u);
    EXPECT_EQ(block.source(), memory_source::none);
    ASSERT_TRUE(moved);
    moved.release();
    EXPECT_FALSE(moved);
}

TEST(LargePages, MatchTheKernelsPoolAndNeverFallBack) {
    const std::uint64_t huge_page = meminfo_bytes(read_file("/proc/meminfo"), "Hugepagesize");
    std::size_t seen[4] = {};
    std::vector<std::thread> threads;
    for (std::size_t& s : seen) {
        threads.emplace_back([&s] { s = enable_large_pages(); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (std::size_t s : seen) {
        EXPECT_EQ(s, huge_page);
    }

    const std::string pool = read_file("/proc/sys/vm/nr_hugepages");
    const std::string overcommit = read_file("/proc/sys/vm/nr_overcommit_hugepages");
    if (huge_page == 0) {
        EXPECT_FALSE(alloc_large_pages(1 << 20));
        GTEST_SKIP() << "no huge-page support on this machine";
    }
    if (std::stoull(pool) == 0 && std::stoull(overcommit) == 0) {
        // An empty pool must fail the request rather than hand out small pages.
        EXPECT_FALSE(alloc_large_pages(1 << 20));
        return;
    }
    memory_block block = alloc_large_pages(1 << 20);
    if (!block) {
        GTEST_SKIP() << "the huge-page pool is in use";
    }
    EXPECT_EQ(block.size(), large_page_request_size(1 << 20, enable_large_pages()));
    EXPECT_EQ(block.source(), memory_source::large_pages);
    std::memset(block.data(), 1, block.size());
}

TEST(AvailablePhysicalMemory, ReadsThisMachine) {
    const std::uint64_t available = available_physical_memory();
    EXPECT_GT(available, 0u);
    EXPECT_LE(available, meminfo_bytes(read_file("/proc/meminfo"), "MemTotal"));
}

}  // namespace
}  // namespace tavro
