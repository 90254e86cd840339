#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "machine/cpu/cpu_identity.h"

namespace tavro {

// Decoders of 64-bit Arm processor identification. They take plain values
// and build on every machine; machine/cpu/cpu_identity_arm64.cpp reads the
// values of the processor it runs on.

/// The fields of MIDR_EL1 that name a core.
struct midr_code {
    /// Bits 31..24: who designed the core (0x41 ARM, 0x51 Qualcomm, ...).
    std::uint32_t implementer = 0;
    /// Bits 15..4: the core design within the implementer.
    std::uint32_t part = 0;

    bool operator==(const midr_code&) const = default;
};

midr_code decode_midr(std::uint64_t midr);

/// The implementer's name ("ARM", "Ampere"); empty when the code is unknown.
std::string_view arm_vendor_name(std::uint32_t implementer);

/// The core's name ("Neoverse-N1", "Cortex-A55"); empty when unknown.
std::string_view arm_part_name(const midr_code& code);

/// MIDR_EL1 as sysfs writes it ("0x00000000413fd0c1", a line end allowed);
/// nothing when the text is not such a number.
std::optional<std::uint64_t> parse_midr_text(std::string_view text);

/// The "CPU implementer" and "CPU part" of every processor of an arm64
/// /proc/cpuinfo text, in the order listed. A processor that lacks either
/// line, or whose value is not a hexadecimal number, is left out.
std::vector<midr_code> parse_cpuinfo_midrs(std::string_view cpuinfo);

/// The MIDR_EL1 of every online CPU of a sysfs tree at `root` ("/sys" on a
/// live system), ascending by CPU; CPUs whose register file cannot be read
/// are left out.
std::vector<midr_code> read_sysfs_midrs(const std::filesystem::path& root);

/// The processor version string of an SMBIOS type 4 (processor) structure,
/// given as its raw bytes (/sys/firmware/dmi/entries/4-0/raw), without
/// leading and trailing blanks. Empty when the structure is not of type 4,
/// is cut short, or has no version string.
std::string smbios_processor_version(std::span<const std::byte> raw);

/// The brand of a 64-bit Arm machine: `firmware_version` when it is not
/// empty, else the vendor and the distinct core types in CPU order
/// ("ARM Neoverse-N1", "ARM Cortex-A55 + Cortex-A76"; the vendor is named
/// again where it changes). Unknown codes are shown as numbers
/// ("ARM part 0xd99", "implementer 0x99 part 0x123"); without any core the
/// text says so. Never empty.
std::string arm_processor_name(std::string_view firmware_version, std::span<const midr_code> cores);

/// The identity the timer diagnostics show: the brand, no x86 vendor, and
/// the implementer and part of the first core as family and model (0 and 0
/// without any core).
cpu_identity arm_cpu_identity(std::string brand, std::span<const midr_code> cores);

}  // namespace tavro
