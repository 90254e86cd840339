#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "machine/topology/topology.h"

namespace tavro {

/// Relationship codes of the Windows logical-processor records.
enum class processor_relationship : std::uint32_t {
    processor_core = 0,
    numa_node = 1,
    cache = 2,
    processor_package = 3,
    group = 4,
    all = 0xFFFF,
};

/// Reads the records that Windows' GetLogicalProcessorInformationEx returns
/// for RelationAll, in the 64-bit layout, from the raw bytes: cores with
/// their efficiency class and processors in mask order, the NUMA node of
/// every processor and the position of the level-3 cache that lists it.
///
/// The records are read from the bytes with this program's own offsets, not
/// through the system's structures, whose older header versions hide the
/// efficiency class and the cache and node group counts in reserved fields.
/// A cache or node record with a group count of 0 (systems before those
/// fields existed) is read as the one group mask it always carries.
///
/// Records are walked by their Size field; the walk stops at a record whose
/// size is too small for its header or runs past the buffer, and a record
/// too short for its fields or its group masks contributes only the masks
/// that fit. Never reads outside `buffer`.
topology_records parse_processor_information(std::span<const std::byte> buffer);

}  // namespace tavro
