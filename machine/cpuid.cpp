#include "machine/cpuid.h"

#include <array>

namespace tavro {

namespace {

constexpr std::uint32_t osxsave_bit = 1u << 27;

constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 6> standard_leaves = {
    {{1, 0}, {7, 0}, {7, 1}, {0x15, 0}, {0x16, 0}, {0x24, 0}}};

constexpr std::array<std::uint32_t, 5> extended_leaves = {0x8000'0001, 0x8000'0002, 0x8000'0003,
                                                          0x8000'0004, 0x8000'0007};

}  // namespace

cpuid_regs cpuid_snapshot::get(std::uint32_t leaf, std::uint32_t subleaf) const {
    auto found = leaves_.find({leaf, subleaf});
    return found == leaves_.end() ? cpuid_regs{} : found->second;
}

void cpuid_snapshot::set(std::uint32_t leaf, std::uint32_t subleaf, const cpuid_regs& regs) {
    leaves_[{leaf, subleaf}] = regs;
}

cpuid_snapshot read_cpuid_snapshot() {
    cpuid_snapshot snapshot;
    snapshot.set(0, 0, cpuid(0, 0));
    snapshot.set(0x8000'0000, 0, cpuid(0x8000'0000, 0));
    // Leaves above the highest one are not stored: some processors answer them
    // with the data of another leaf, which would read as feature bits.
    for (auto [leaf, subleaf] : standard_leaves) {
        if (leaf <= snapshot.max_leaf()) {
            snapshot.set(leaf, subleaf, cpuid(leaf, subleaf));
        }
    }
    for (std::uint32_t leaf : extended_leaves) {
        if (leaf <= snapshot.max_extended_leaf()) {
            snapshot.set(leaf, 0, cpuid(leaf, 0));
        }
    }
    if ((snapshot.get(1).ecx & osxsave_bit) != 0) {
        snapshot.xcr0 = xgetbv0();
    }
    return snapshot;
}

}  // namespace tavro
