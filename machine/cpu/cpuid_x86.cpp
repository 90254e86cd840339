// The x86 instructions behind machine/cpu/cpuid.h; only x86 builds have them.
#include "machine/cpu/cpuid.h"

#include <cpuid.h>
#include <x86intrin.h>

#include <array>

namespace tavro {

namespace {

// XGETBV is compiled for this function alone so the binary keeps the x86-64
// baseline; it only runs after OSXSAVE says the instruction is enabled.
__attribute__((target("xsave"))) std::uint64_t read_xcr0() {
    return _xgetbv(0);
}

constexpr std::uint32_t osxsave_bit = 1u << 27;

constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 6> standard_leaves = {
    {{1, 0}, {7, 0}, {7, 1}, {0x15, 0}, {0x16, 0}, {0x24, 0}}};

constexpr std::array<std::uint32_t, 5> extended_leaves = {0x8000'0001, 0x8000'0002, 0x8000'0003,
                                                          0x8000'0004, 0x8000'0007};

}  // namespace

cpuid_regs cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    __cpuid_count(leaf, subleaf, eax, ebx, ecx, edx);
    return {eax, ebx, ecx, edx};
}

std::uint64_t xgetbv0() {
    // Without OSXSAVE the instruction raises an invalid-opcode fault.
    if (__get_cpuid_max(0, nullptr) < 1 || (cpuid(1, 0).ecx & bit_OSXSAVE) == 0) {
        return 0;
    }
    return read_xcr0();
}

std::uint64_t read_tsc() {
    return __rdtsc();
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
