#include "machine/topology/processor_information.h"

#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "machine/topology/placement.h"

namespace tavro {
namespace {

struct group_mask {
    std::uint16_t group = 0;
    std::uint64_t mask = 0;
};

std::uint64_t bits(unsigned first, unsigned count) {
    std::uint64_t mask = 0;
    for (unsigned bit = first; bit < first + count; ++bit) {
        mask |= std::uint64_t{1} << bit;
    }
    return mask;
}

// Writes records byte by byte in the 64-bit layout Windows documents, with
// the offsets spelled out here independently of the parser's.
class record_buffer {
  public:
    void core(std::uint8_t efficiency_class, std::vector<group_mask> masks) {
        const std::size_t at = begin(0, 32 + 16 * masks.size());
        put<std::uint8_t>(at + 9, efficiency_class);
        put<std::uint16_t>(at + 30, static_cast<std::uint16_t>(masks.size()));
        put_masks(at + 32, masks);
    }
    void node(std::uint32_t number, std::vector<group_mask> masks, std::uint16_t group_count) {
        const std::size_t at = begin(1, 32 + 16 * masks.size());
        put<std::uint32_t>(at + 8, number);
        put<std::uint16_t>(at + 30, group_count);
        put_masks(at + 32, masks);
    }
    void cache(std::uint8_t level, std::vector<group_mask> masks, std::uint16_t group_count) {
        const std::size_t at = begin(2, 40 + 16 * masks.size());
        put<std::uint8_t>(at + 8, level);
        put<std::uint16_t>(at + 10, 64);         // line size
        put<std::uint32_t>(at + 12, 32u << 20);  // cache size
        put<std::uint32_t>(at + 16, 0);          // unified
        put<std::uint16_t>(at + 38, group_count);
        put_masks(at + 40, masks);
    }
    // A package or group record: skipped by the reader, whatever it holds.
    void other(std::uint32_t relationship, std::size_t size) {
        const std::size_t at = begin(relationship, size);
        std::memset(bytes_.data() + at + 8, 0xFF, size - 8);
    }

    std::vector<std::byte>& bytes() { return bytes_; }
    topology_records parse() const { return parse_processor_information(bytes_); }

  private:
    std::size_t begin(std::uint32_t relationship, std::size_t size) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + size);
        put<std::uint32_t>(at, relationship);
        put<std::uint32_t>(at + 4, static_cast<std::uint32_t>(size));
        return at;
    }
    void put_masks(std::size_t at, const std::vector<group_mask>& masks) {
        for (const group_mask& mask : masks) {
            put<std::uint64_t>(at, mask.mask);
            put<std::uint16_t>(at + 8, mask.group);
            at += 16;
        }
    }
    template <typename T>
    void put(std::size_t at, T value) {
        std::memcpy(bytes_.data() + at, &value, sizeof value);
    }

    std::vector<std::byte> bytes_;
};

std::vector<std::uint32_t> processors_of(const cpu_core& core) {
    std::vector<std::uint32_t> numbers;
    for (const logical_cpu& cpu : core.logicals) {
        numbers.push_back(cpu.processor);
    }
    return numbers;
}

TEST(ProcessorInformation, HybridProcessorWithSkippedRecords) {
    record_buffer buffer;
    buffer.other(3, 48);  // package
    // Six two-thread cores of the faster class, then eight single-thread ones.
    for (unsigned c = 0; c < 6; ++c) {
        buffer.core(1, {{0, bits(2 * c, 2)}});
        buffer.cache(2, {{0, bits(2 * c, 2)}}, 1);  // level 2: not a cache group
    }
    for (unsigned c = 0; c < 8; ++c) {
        buffer.core(0, {{0, bits(12 + c, 1)}});
    }
    buffer.cache(3, {{0, bits(0, 20)}}, 1);
    buffer.node(0, {{0, bits(0, 20)}}, 1);
    buffer.other(4, 80);  // group

    const cpu_topology topology = build_topology(buffer.parse());

    EXPECT_EQ(topology.perf_level_count, 2u);
    ASSERT_EQ(topology.nodes.size(), 1u);
    ASSERT_EQ(topology.nodes[0].llc_groups.size(), 1u);
    const auto& cores = topology.nodes[0].llc_groups[0].cores;
    ASSERT_EQ(cores.size(), 14u);
    EXPECT_EQ(core_count(topology), 14u);
    EXPECT_EQ(cores[0].perf_level, 0u);
    EXPECT_EQ(processors_of(cores[5]), (std::vector<std::uint32_t>{10, 11}));
    EXPECT_EQ(cores[5].logicals[1].index, 1u);
    EXPECT_EQ(cores[6].perf_level, 1u);
    EXPECT_EQ(processors_of(cores[13]), (std::vector<std::uint32_t>{19}));
    EXPECT_EQ(build_phte_slots(topology).size(), 20u);
}

TEST(ProcessorInformation, NodesAndLevelThreeCachesGroupTheCores) {
    // Two nodes of one cache each, then one node with two caches listed in
    // the older layout (group count 0, one mask): each cache is a group.
    record_buffer two_nodes;
    for (unsigned c = 0; c < 4; ++c) {
        two_nodes.core(0, {{0, bits(2 * c, 2)}});
    }
    two_nodes.node(0, {{0, bits(0, 4)}}, 1);
    two_nodes.node(1, {{0, bits(4, 4)}}, 1);
    two_nodes.cache(3, {{0, bits(0, 4)}}, 1);
    two_nodes.cache(3, {{0, bits(4, 4)}}, 1);
    const cpu_topology by_node = build_topology(two_nodes.parse());
    ASSERT_EQ(by_node.nodes.size(), 2u);
    EXPECT_EQ(by_node.nodes[1].id, 1u);
    ASSERT_EQ(by_node.nodes[1].llc_groups.size(), 1u);
    EXPECT_EQ(by_node.nodes[1].llc_groups[0].id, 1u);
    ASSERT_EQ(by_node.nodes[1].llc_groups[0].cores.size(), 2u);
    EXPECT_EQ(by_node.nodes[1].llc_groups[0].cores[0].id, 2u);

    record_buffer two_caches;
    two_caches.cache(3, {{0, bits(0, 16)}}, 0);
    two_caches.cache(3, {{0, bits(16, 16)}}, 0);
    for (unsigned c = 0; c < 16; ++c) {
        two_caches.core(0, {{0, bits(2 * c, 2)}});
    }
    const cpu_topology by_cache = build_topology(two_caches.parse());
    ASSERT_EQ(by_cache.nodes.size(), 1u);  // no node record: node 0
    const auto& groups = by_cache.nodes[0].llc_groups;
    ASSERT_EQ(groups.size(), 2u);
    ASSERT_EQ(groups[1].cores.size(), 8u);
    EXPECT_EQ(groups[0].cores[7].id, 7u);
    EXPECT_EQ(groups[1].id, 1u);
    EXPECT_EQ(groups[1].cores[0].id, 8u);
}

TEST(ProcessorInformation, MoreThanSixtyFourProcessorsInTwoGroups) {
    // 96 hardware threads: two groups of 48, one node and one cache per
    // group, except that the second cache lists its processors in two masks.
    record_buffer buffer;
    for (std::uint16_t group = 0; group < 2; ++group) {
        for (unsigned c = 0; c < 24; ++c) {
            buffer.core(0, {{group, bits(2 * c, 2)}});
        }
    }
    buffer.node(0, {{0, bits(0, 48)}}, 1);
    buffer.node(1, {{1, bits(0, 48)}}, 1);
    buffer.cache(3, {{0, bits(0, 48)}}, 1);
    buffer.cache(3, {{1, bits(0, 24)}, {1, bits(24, 24)}}, 2);

    const topology_records records = buffer.parse();
    ASSERT_EQ(records.cores.size(), 48u);
    EXPECT_EQ(records.processors.size(), 96u);
    const cpu_topology topology = build_topology(records);
    ASSERT_EQ(topology.nodes.size(), 2u);
    EXPECT_EQ(core_count(topology), 48u);
    const llc_group& second = topology.nodes[1].llc_groups.at(0);
    EXPECT_EQ(second.id, 1u);
    ASSERT_EQ(second.cores.size(), 24u);
    const logical_cpu expected{.index = 1, .core_id = 47, .processor = 47, .group = 1};
    EXPECT_EQ(second.cores[23].logicals.at(1), expected);

    // Consecutive workers alternate between the two groups.
    const auto slots = build_numa_slots(topology);
    ASSERT_EQ(slots.size(), 96u);
    EXPECT_EQ(slots[0].group, 0u);
    EXPECT_EQ(slots[1].group, 1u);
    EXPECT_EQ(slots[1].processor, 0u);
}

TEST(ProcessorInformation, FailedOrDamagedBuffersNeverReadPastTheEnd) {
    // A failed read leaves no bytes: no core, so an empty topology.
    const cpu_topology failed = build_topology(parse_processor_information({}));
    EXPECT_EQ(failed, cpu_topology{});
    EXPECT_EQ(core_count(failed), std::thread::hardware_concurrency());

    record_buffer buffer;
    buffer.core(0, {{0, bits(0, 2)}});
    buffer.core(0, {{0, bits(2, 2)}});
    const std::size_t whole = buffer.bytes().size();

    // Cut inside the second record: only the first is read.
    buffer.bytes().resize(whole - 1);
    EXPECT_EQ(buffer.parse().cores.size(), 1u);

    // A group count larger than the record holds: only the masks present.
    buffer.bytes().resize(whole);
    const std::uint16_t too_many = 9;
    std::memcpy(buffer.bytes().data() + 48 + 30, &too_many, sizeof too_many);
    const topology_records records = buffer.parse();
    ASSERT_EQ(records.cores.size(), 2u);
    EXPECT_EQ(records.cores[1].logicals.size(), 2u);

    // A record claiming a size below its own header ends the walk.
    const std::uint32_t tiny = 4;
    std::memcpy(buffer.bytes().data() + 4, &tiny, sizeof tiny);
    EXPECT_TRUE(buffer.parse().cores.empty());
}

}  // namespace
}  // namespace tavro
