#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "machine/cpu/cpuid.h"

namespace tavro {

/// The processor maker as told by the brand string.
enum class cpu_vendor : std::uint32_t { intel = 0, amd = 1, unknown = 2 };

/// What the timer compliance rule needs to know about the processor.
struct cpu_identity {
    /// x86: the brand string as the processor stores it, blanks included.
    /// 64-bit Arm: the name made from the cores' identification registers
    /// and the maker of the system on chip (machine/cpu/arm_identity.h).
    std::string brand;
    cpu_vendor vendor = cpu_vendor::unknown;
    /// x86: the base family field of CPUID leaf 1 (bits 8..11), without the
    /// extended family. 64-bit Arm: the implementer code of the first CPU.
    std::uint32_t family = 0;
    /// x86: (extended model << 4) | model, from bits 16..19 and 4..7 of leaf
    /// 1 EAX. 64-bit Arm: the part number of the first CPU.
    std::uint32_t model = 0;
};

/// The 48-byte brand string of leaves 0x80000002..4 up to its first zero byte;
/// empty when the processor has no such leaves.
std::string decode_cpu_brand(const cpuid_snapshot& regs);

/// "Intel" anywhere in the brand (case-sensitive) makes it Intel, otherwise
/// "AMD" anywhere makes it AMD, otherwise unknown.
cpu_vendor vendor_from_brand(std::string_view brand);

/// Brand, vendor, family and model from captured CPUID registers.
cpu_identity decode_cpu_identity(const cpuid_snapshot& regs);

/// The brand string of the processor this runs on; never empty on 64-bit
/// Arm. Read by this architecture's file (cpu_identity_x86.cpp,
/// cpu_identity_arm64.cpp).
std::string read_cpu_brand();

/// The identity of the processor this runs on.
cpu_identity read_cpu_identity();

}  // namespace tavro
