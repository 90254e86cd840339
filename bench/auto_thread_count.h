#pragma once

#include <cstdint>

#include "machine/topology.h"

namespace tavro {

/// The thread count used when none is given: one thread per core, but no
/// more threads than there are grids of edge `grid_size` fitting in
/// `available_bytes` of physical memory. Memory that is unknown (0) or too
/// small for one grid does not limit the count. Never 0: a machine without
/// any core reported gets 1.
std::uint32_t auto_thread_count(const cpu_topology& topology, std::uint64_t grid_size,
                                std::uint64_t available_bytes);

}  // namespace tavro
