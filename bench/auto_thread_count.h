#pragma once

#include <cstdint>

#include "machine/memory/system_limits.h"
#include "machine/topology/topology.h"

namespace tavro {

/// What bounds the automatic thread count besides the cores.
struct thread_count_bounds {
    /// Memory the grids come from, in bytes: physical memory, or the free
    /// huge pages when `large_page_size` is set. 0 when unknown.
    std::uint64_t available_bytes = 0;
    /// Whole CPUs of the CPU quota; 0 for none.
    std::uint32_t cpu_quota = 0;
    /// The most threads the system lets a run have; 0 for no bound.
    std::uint64_t thread_cap = 0;
    /// Size of the huge pages the grids come from, each array rounded up to
    /// whole pages; 0 for grids on ordinary pages.
    std::uint64_t large_page_size = 0;
    /// Size of ordinary pages, whose page tables the grids also need.
    std::uint64_t base_page_size = 4096;
    /// What a limit on the address space leaves, and what each thread takes
    /// of it besides its grids.
    address_space_facts address_space{};
};

/// The thread count used when none is given: one thread per core the
/// process may run on, but no more than the whole CPUs of its CPU quota,
/// than the system's thread cap, and than there are threads whose grids of
/// edge `grid_size` fit in the available memory with what each thread needs
/// besides (run_memory_need), and than fit with their stacks and arenas in
/// what a limit on the address space leaves (address_space_need). Memory
/// that is unknown (0) does not limit the
/// count; memory too small for one thread gives 1, which the run then
/// refuses. Never 0: a machine without any core reported gets 1.
std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size,
                                const thread_count_bounds& bounds);

/// auto_thread_count with this machine's memory (the huge-page pool when
/// `large_pages` is set), CPU quota and thread cap.
std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size,
                                bool large_pages);

}  // namespace tavro
