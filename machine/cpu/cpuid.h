#pragma once

#include <cstdint>
#include <map>
#include <utility>

namespace tavro {

/// The four registers that one CPUID query returns.
struct cpuid_regs {
    std::uint32_t eax = 0;
    std::uint32_t ebx = 0;
    std::uint32_t ecx = 0;
    std::uint32_t edx = 0;

    friend bool operator==(const cpuid_regs&, const cpuid_regs&) = default;
};

// The readers of the processor (cpuid, xgetbv0, read_tsc and
// read_cpuid_snapshot) exist in x86 builds only (cpuid_x86.cpp); the
// snapshot and the decoders that take it build and are tested everywhere.

/// Executes CPUID with the given leaf and sub-leaf on the calling processor.
/// A leaf above the processor's highest one returns whatever the processor
/// returns for it; callers check the highest leaf first.
cpuid_regs cpuid(std::uint32_t leaf, std::uint32_t subleaf);

/// The extended control register XCR0 (the register state the operating
/// system saves), or 0 when the processor or the system does not report it
/// (CPUID leaf 1 ECX bit 27, OSXSAVE, clear).
std::uint64_t xgetbv0();

/// The time-stamp counter of the calling processor.
std::uint64_t read_tsc();

/// The CPUID results that the decoders use, captured once, plus XCR0. Built
/// from the processor by read_cpuid_snapshot() or written by hand in tests.
class cpuid_snapshot {
  public:
    /// The registers stored for (leaf, subleaf); all zero when none were.
    cpuid_regs get(std::uint32_t leaf, std::uint32_t subleaf = 0) const;
    void set(std::uint32_t leaf, std::uint32_t subleaf, const cpuid_regs& regs);

    /// EAX of leaf 0: the highest standard leaf.
    std::uint32_t max_leaf() const { return get(0).eax; }
    /// EAX of leaf 0x80000000: the highest extended leaf.
    std::uint32_t max_extended_leaf() const { return get(0x8000'0000).eax; }

    std::uint64_t xcr0 = 0;

  private:
    std::map<std::pair<std::uint32_t, std::uint32_t>, cpuid_regs> leaves_;
};

/// Queries every leaf the decoders need that the processor has (leaves 0, 1,
/// 7.0, 7.1, 0x15, 0x16, 0x24, 0x80000000 to 0x80000004 and 0x80000007) and
/// XCR0 when the system enables XGETBV.
cpuid_snapshot read_cpuid_snapshot();

}  // namespace tavro
