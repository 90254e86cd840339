#include "machine/topology/processor_information.h"

#include <cstring>
#include <map>
#include <set>

namespace tavro {
namespace {

// Offsets within one record (64-bit layout). Every record starts with its
// relationship and its size; the body follows at offset 8.
constexpr std::size_t relationship_offset = 0;
constexpr std::size_t size_offset = 4;
constexpr std::size_t header_size = 8;

// Processor core: Flags, EfficiencyClass, 20 reserved bytes, GroupCount,
// then the group masks.
constexpr std::size_t core_efficiency_offset = 9;
constexpr std::size_t core_group_count_offset = 30;
constexpr std::size_t core_masks_offset = 32;

// NUMA node: NodeNumber, 18 reserved bytes, GroupCount, then the masks.
constexpr std::size_t node_number_offset = 8;
constexpr std::size_t node_group_count_offset = 30;
constexpr std::size_t node_masks_offset = 32;

// Cache: Level, Associativity, LineSize, CacheSize, Type, 18 reserved bytes,
// GroupCount, then the masks.
constexpr std::size_t cache_level_offset = 8;
constexpr std::size_t cache_group_count_offset = 38;
constexpr std::size_t cache_masks_offset = 40;

// A group mask: a 64-bit processor mask, the 16-bit group number and three
// reserved 16-bit words.
constexpr std::size_t mask_size = 16;
constexpr std::size_t mask_group_offset = 8;
constexpr unsigned processors_per_group = 64;

template <typename T>
T read_at(std::span<const std::byte> record, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= record.size()) {
        std::memcpy(&value, record.data() + offset, sizeof(T));
    }
    return value;
}

// The processors of up to `count` group masks starting at `offset`, in mask
// order and ascending bit position; masks that do not fit are left out.
std::vector<processor_ref> mask_processors(std::span<const std::byte> record, std::size_t offset,
                                           std::size_t count) {
    std::vector<processor_ref> cpus;
    for (std::size_t m = 0; m < count; ++m) {
        const std::size_t at = offset + m * mask_size;
        if (at + mask_size > record.size()) {
            break;
        }
        const auto mask = read_at<std::uint64_t>(record, at);
        const auto group = read_at<std::uint16_t>(record, at + mask_group_offset);
        for (unsigned bit = 0; bit < processors_per_group; ++bit) {
            if ((mask >> bit) & 1u) {
                cpus.push_back({.group = group, .processor = bit});
            }
        }
    }
    return cpus;
}

// Cache and node records of older systems leave the group count at 0 and
// carry exactly one mask.
std::size_t masks_of_shared_record(std::uint16_t group_count) {
    return group_count == 0 ? 1 : group_count;
}

// The records of the buffer, each as the bytes its Size field covers.
std::vector<std::span<const std::byte>> split_records(std::span<const std::byte> buffer) {
    std::vector<std::span<const std::byte>> records;
    std::size_t at = 0;
    while (buffer.size() - at >= header_size) {
        const auto size = read_at<std::uint32_t>(buffer.subspan(at), size_offset);
        if (size < header_size || size > buffer.size() - at) {
            break;
        }
        records.push_back(buffer.subspan(at, size));
        at += size;
    }
    return records;
}

processor_relationship relationship_of(std::span<const std::byte> record) {
    return static_cast<processor_relationship>(read_at<std::uint32_t>(record, relationship_offset));
}

}  // namespace

topology_records parse_processor_information(std::span<const std::byte> buffer) {
    const auto records = split_records(buffer);

    std::map<processor_ref, std::uint32_t> node_of;
    std::map<processor_ref, std::uint32_t> llc_of;
    std::uint32_t level3_seen = 0;
    for (const auto record : records) {
        const processor_relationship kind = relationship_of(record);
        if (kind == processor_relationship::numa_node) {
            const auto node = read_at<std::uint32_t>(record, node_number_offset);
            const auto count = read_at<std::uint16_t>(record, node_group_count_offset);
            for (const processor_ref& cpu :
                 mask_processors(record, node_masks_offset, masks_of_shared_record(count))) {
                node_of.insert_or_assign(cpu, node);
            }
        } else if (kind == processor_relationship::cache &&
                   read_at<std::uint8_t>(record, cache_level_offset) == 3) {
            const auto count = read_at<std::uint16_t>(record, cache_group_count_offset);
            for (const processor_ref& cpu :
                 mask_processors(record, cache_masks_offset, masks_of_shared_record(count))) {
                llc_of.insert_or_assign(cpu, level3_seen);
            }
            ++level3_seen;
        }
    }

    topology_records result;
    std::set<processor_ref> seen;
    for (const auto record : records) {
        if (relationship_of(record) != processor_relationship::processor_core) {
            continue;
        }
        core_record core;
        core.efficiency_class = read_at<std::uint8_t>(record, core_efficiency_offset);
        core.logicals = mask_processors(record, core_masks_offset,
                                        read_at<std::uint16_t>(record, core_group_count_offset));
        seen.insert(core.logicals.begin(), core.logicals.end());
        result.cores.push_back(std::move(core));
    }
    for (const processor_ref& cpu : seen) {
        processor_record where{.cpu = cpu, .node = std::nullopt, .llc_group = std::nullopt};
        if (const auto node = node_of.find(cpu); node != node_of.end()) {
            where.node = node->second;
        }
        if (const auto llc = llc_of.find(cpu); llc != llc_of.end()) {
            where.llc_group = llc->second;
        }
        result.processors.push_back(where);
    }
    return result;
}

}  // namespace tavro
