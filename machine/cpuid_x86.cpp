#include "machine/cpuid.h"

#include <cpuid.h>
#include <x86intrin.h>

namespace tavro {

namespace {

// XGETBV is compiled for this function alone so the binary keeps the x86-64
// baseline; it only runs after OSXSAVE says the instruction is enabled.
__attribute__((target("xsave"))) std::uint64_t read_xcr0() {
    return _xgetbv(0);
}

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

}  // namespace tavro
