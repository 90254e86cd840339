#include "bench/auto_thread_count.h"

#include <algorithm>

#include "bench/bench_config.h"
#include "machine/memory/memory.h"
#include "machine/memory/system_limits.h"

namespace tavro {

namespace {

// How many threads' grids the memory holds, at most `limit`; 0 when not one.
std::uint64_t grids_that_fit(std::uint64_t grid_size, const thread_count_bounds& bounds,
                             std::uint64_t limit) {
    const std::uint64_t per_thread = grid_bytes_per_thread(grid_size);
    if (per_thread == 0) {
        return 0;  // the byte count wrapped: no honest memory limit
    }
    if (bounds.large_page_size == 0) {
        // Each array is a mapping of its own, in whole pages.
        const auto array_pages =
            large_page_request_size(static_cast<std::size_t>(per_thread / 2),
                                    static_cast<std::size_t>(bounds.base_page_size));
        return threads_that_fit(bounds.available_bytes, 2 * std::uint64_t{array_pages},
                                bounds.base_page_size, limit);
    }
    // A huge-page pool holds whole pages per array, and no page tables or
    // thread stacks, which come from ordinary memory.
    const auto array_pages = large_page_request_size(
        static_cast<std::size_t>(per_thread / 2), static_cast<std::size_t>(bounds.large_page_size));
    if (array_pages == 0) {
        return 0;
    }
    return std::min(limit, bounds.available_bytes / (2 * std::uint64_t{array_pages}));
}

// How many threads' grids, stacks and arenas a limit on the address space
// leaves room for, at most `limit`.
std::uint64_t address_space_fit(std::uint64_t grid_size, const thread_count_bounds& bounds,
                                std::uint64_t limit) {
    const address_space_facts& facts = bounds.address_space;
    const std::uint64_t page =
        bounds.large_page_size != 0 ? bounds.large_page_size : bounds.base_page_size;
    const std::uint64_t array =
        large_page_request_size(static_cast<std::size_t>(grid_bytes_per_thread(grid_size) / 2),
                                static_cast<std::size_t>(page));
    if (!facts.left || array == 0) {
        return limit;
    }
    std::uint64_t threads = limit;
    while (threads > 0 && address_space_need(threads, 2 * array, facts, 0) > *facts.left) {
        --threads;
    }
    return threads;
}

}  // namespace

std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size,
                                const thread_count_bounds& bounds) {
    std::uint32_t cores = core_count(topology);
    if (cores == 0) {
        return 1;
    }
    if (bounds.cpu_quota != 0) {
        cores = std::min(cores, bounds.cpu_quota);
    }
    if (bounds.thread_cap != 0 && bounds.thread_cap < cores) {
        cores = static_cast<std::uint32_t>(bounds.thread_cap);
    }
    if (grid_bytes_per_thread(grid_size) == 0) {
        return cores;  // a byte count that wrapped: no honest memory limit
    }
    cores = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(1, address_space_fit(grid_size, bounds, cores)));
    if (bounds.available_bytes == 0 && bounds.large_page_size == 0) {
        return cores;  // memory unknown
    }
    // When not even one grid fits, one thread: the run then refuses it with
    // what it needs and what there is, instead of starting threads that fail.
    const std::uint64_t fit = grids_that_fit(grid_size, bounds, cores);
    return std::max<std::uint32_t>(1, static_cast<std::uint32_t>(fit));
}

std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size,
                                bool large_pages) {
    thread_count_bounds bounds;
    bounds.available_bytes =
        large_pages ? available_large_page_memory() : available_physical_memory();
    bounds.cpu_quota = process_cgroup_limits().cpu_quota.value_or(0);
    bounds.thread_cap = system_thread_limit();
    bounds.large_page_size = large_pages ? enable_large_pages() : 0;
    bounds.base_page_size = base_page_size();
    bounds.address_space = process_address_space();
    return auto_thread_count(topology, grid_size, bounds);
}

}  // namespace tavro
