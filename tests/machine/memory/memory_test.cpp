#include "machine/memory/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavro {
namespace {

// One array of an N = 64 grid: 66^3 cells of 32 bytes.
constexpr std::uint64_t grid_bytes64 = 66ull * 66 * 66 * 32;

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

TEST(GridMemoryLedger, AdmitsAgainstTheBudgetOfTheRun) {
    grid_memory_ledger ledger(1000);
    {
        auto first = ledger.reserve(600);
        ASSERT_TRUE(first.has_value());
        EXPECT_FALSE(ledger.reserve(401).has_value());
        auto second = ledger.reserve(400);
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(ledger.live_bytes(), 1000u);

        grid_memory_ledger::reservation moved = std::move(*second);
        EXPECT_EQ(second->bytes(), 0u);
        EXPECT_EQ(ledger.live_bytes(), 1000u);
    }
    EXPECT_EQ(ledger.live_bytes(), 0u);
    // The next run's budget; grids still held would stay counted.
    ledger.set_budget(2000);
    auto held = ledger.reserve(1500);
    EXPECT_TRUE(held.has_value());
    EXPECT_FALSE(ledger.reserve(501).has_value());
    ledger.set_budget(0);
    EXPECT_TRUE(ledger.reserve(std::uint64_t{1} << 50).has_value());
}

// Memory still free as another program takes it, for the watch.
std::uint64_t free_memory = 0;
std::uint64_t watch_free_memory() {
    return free_memory;
}

TEST(GridMemoryLedger, FirstTouchGivesUpWhenOthersTakeTheMemory) {
    constexpr std::uint64_t chunk = first_touch_chunk;
    grid_memory_ledger ledger;
    ledger.set_watch(&watch_free_memory);
    std::vector<unsigned char> one(3 * chunk + 5, 0xff);
    std::vector<unsigned char> two(2 * chunk, 0xff);
    auto first = ledger.reserve(one.size());
    auto second = ledger.reserve(two.size());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(ledger.untouched_bytes(), one.size() + two.size());

    // Room for both claims and the reserve: filled, and counted as filled.
    free_memory = one.size() + two.size() + process_memory_reserve;
    EXPECT_TRUE(first->first_touch(one.data()));
    EXPECT_EQ(std::count(one.begin(), one.end(), 0), static_cast<std::ptrdiff_t>(one.size()));
    EXPECT_EQ(ledger.untouched_bytes(), two.size());

    // Another program took memory: what is left no longer holds the rest.
    free_memory = two.size() + process_memory_reserve - 1;
    EXPECT_FALSE(second->first_touch(two.data()));
    EXPECT_EQ(two[0], 0xff);
    second->release();
    EXPECT_EQ(ledger.untouched_bytes(), 0u);
    EXPECT_EQ(ledger.live_bytes(), one.size());

    // Unknown free memory, or no watch, does not stop the fill.
    auto third = ledger.reserve(two.size());
    free_memory = 0;
    EXPECT_TRUE(third->first_touch(two.data()));
    ledger.set_watch(nullptr);
    std::fill(two.begin(), two.end(), 0xff);
    auto fourth = ledger.reserve(two.size());
    EXPECT_TRUE(fourth->first_touch(two.data()));
    EXPECT_EQ(two[two.size() - 1], 0);
}

TEST(RunMemoryNeed, CountsGridsThreadsProcessAndPageTables) {
    constexpr std::uint64_t page = 4096;
    constexpr std::uint64_t mib = std::uint64_t{1} << 20;
    // Page tables: an 8-byte entry per page, about 2 KiB per MiB, and a
    // table above every 512 tables.
    EXPECT_EQ(page_table_bytes(0, page), 0u);
    EXPECT_EQ(page_table_bytes(2 * mib, page), page);
    EXPECT_EQ(page_table_bytes(2 * mib + 1, page), 3 * page);
    EXPECT_EQ(page_table_bytes(1024 * mib, page), (512 + 1) * page);
    EXPECT_EQ(page_table_bytes(1024 * mib, 65536), 3 * 65536u);  // 8192 entries per table
    EXPECT_EQ(page_table_bytes(mib, 0), 0u);

    const std::uint64_t grid = grid_bytes64 * 2;
    const std::uint64_t besides = 16 * thread_memory_allowance + process_memory_reserve;
    const std::uint64_t available = 16 * grid + besides + page_table_bytes(16 * grid, page);
    EXPECT_EQ(run_memory_need(16, grid, page), available);
    EXPECT_EQ(run_memory_need(0, grid, page), process_memory_reserve);
    EXPECT_EQ(threads_that_fit(available, grid, page, 64), 16u);
    EXPECT_EQ(threads_that_fit(available - 1, grid, page, 64), 15u);
    EXPECT_EQ(threads_that_fit(available, grid, page, 3), 3u);
    EXPECT_EQ(threads_that_fit(grid, grid, page, 64), 0u);  // nothing left for the thread

    // An absurd count saturates the need instead of wrapping to a small one.
    constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(run_memory_need(top, grid, page), top);
    EXPECT_EQ(run_memory_need(top / thread_memory_allowance, 1, page), top);
    EXPECT_EQ(threads_that_fit(top, grid, page, 64), 64u);
    EXPECT_GT(threads_that_fit(top, 1, page, top), 0u);
    EXPECT_EQ(threads_that_fit(0, grid, page, 64), 0u);
    EXPECT_EQ(threads_that_fit(available, 0, page, 64), 0u);

    // With 64 KiB pages a thread's own pages take 3 MiB; up to 4 KiB pages
    // (and 5 KiB, still below 48 pages of the allowance) the allowance.
    EXPECT_EQ(thread_memory_need(4096), thread_memory_allowance);
    EXPECT_EQ(thread_memory_need(5 * 1024), thread_memory_allowance);
    EXPECT_EQ(thread_memory_need(65536), 3 * mib);
    EXPECT_EQ(run_memory_need(2, grid, 65536),
              2 * grid + 2 * 3 * mib + process_memory_reserve + page_table_bytes(2 * grid, 65536));
}

TEST(FreeHugePageBytes, CountsFreeUnreservedAndSurplusPages) {
    const std::string pool =
        "MemAvailable:    1048576 kB\n"
        "HugePages_Total:      10\n"
        "HugePages_Free:        8\n"
        "HugePages_Rsvd:        2\n"
        "HugePages_Surp:        1\n"
        "Hugepagesize:       2048 kB\n";
    constexpr std::uint64_t huge = 2 * 1024 * 1024;
    EXPECT_EQ(free_huge_page_bytes(pool, 0), 6 * huge);
    EXPECT_EQ(free_huge_page_bytes(pool, 4), 9 * huge);
    // Surplus pages come out of ordinary memory: no more than it holds.
    EXPECT_EQ(free_huge_page_bytes(pool, 100000), (6 + 512) * huge);
    EXPECT_EQ(free_huge_page_bytes(sample_meminfo, 0), 0u);
    EXPECT_EQ(free_huge_page_bytes("HugePages_Free: 5\n", 0), 0u);  // no page size
}

TEST(GridMemoryLedger, CountsConcurrentClaimsExactly) {
    grid_memory_ledger ledger(std::uint64_t{1} << 40);
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

// The VmFlags of the mapping at `address` in /proc/self/smaps; nothing
// where the system has no such file, or where the kernel runs another
// program for this one (a user-mode emulator, whose own account of the
// mappings that file then is).
std::optional<std::string> mapping_flags(const void* address) {
    std::error_code error;
    const std::string exe =
        std::filesystem::read_symlink("/proc/self/exe", error).filename().string();
    std::string comm = read_file("/proc/self/comm");
    comm = comm.substr(0, comm.find('\n'));
    if (error || comm.empty() || exe.substr(0, comm.size()) != comm) {
        return std::nullopt;
    }
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR, &start, &end) == 2) {
            inside = start <= at && at < end;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return std::nullopt;
}

TEST(AllocAligned, GivesAlignedMoveOnlyStorageOnBasePages) {
    memory_block block = alloc_aligned(1000);
    ASSERT_TRUE(block);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data()) % 64, 0u);
    EXPECT_EQ(block.size(), 1000u);
    EXPECT_EQ(block.source(), memory_source::base_pages);
    std::memset(block.data(), 0xab, block.size());
    EXPECT_GE(base_page_size(), 4096u);

    // On Linux the grid's mapping is kept from transparent huge pages ("nh").
    memory_block grid = alloc_aligned(64 << 20);
    ASSERT_TRUE(grid);
    if (const std::optional<std::string> flags = mapping_flags(grid.data())) {
        EXPECT_NE(flags->find(" nh"), std::string::npos) << *flags;
    }

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
