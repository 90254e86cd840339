#pragma once

#include <cstdint>

#include "machine/topology.h"

namespace tavro {

/// The thread count used when none is given: one thread per core the
/// process may run on, but no more than the `cpu_quota` whole CPUs of its
/// CPU quota (0: none) and no more threads than there are grids of edge
/// `grid_size` fitting in `available_bytes` of physical memory. Memory that
/// is unknown (0) or too small for one grid does not limit the count. Never
/// 0: a machine without any core reported gets 1.
std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size,
                                std::uint64_t available_bytes, std::uint32_t cpu_quota = 0);

/// auto_thread_count with this machine's available memory and CPU quota.
std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size);

}  // namespace tavro
