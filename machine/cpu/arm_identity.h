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

/// The maker of the system on chip named by the kernel's SoC description
/// (/sys/devices/soc0/): its "family" or, without one, its "soc_id". A
/// "jep106:BBCC..." value (the JEP106 bank and maker code that the firmware
/// reports) names the maker of that code; a family text names the maker of
/// that line of chips ("Snapdragon": Qualcomm). Empty when the maker is not
/// known. The "machine" file names the board, whose maker may be another.
std::string_view soc_vendor_name(std::string_view family, std::string_view soc_id);

/// soc_vendor_name of the SoC description of a sysfs tree at `root` ("/sys"
/// on a live system); empty when there is none.
std::string_view read_soc_vendor(const std::filesystem::path& root);

/// The brand of a 64-bit Arm machine: the vendor and the distinct core
/// types in CPU order ("ARM Neoverse-N1", "ARM Cortex-A55 + Cortex-A76"; the
/// vendor is named again where it changes), after "VENDOR SoC with " when
/// the SoC's maker `soc_vendor` is known and is not a vendor of the cores
/// ("MediaTek SoC with ARM Cortex-X925 + Cortex-A725"). Unknown codes are
/// shown as numbers ("ARM part 0xd99", "implementer 0x99 part 0x123");
/// without any core the text says so. Never empty.
std::string arm_processor_name(std::span<const midr_code> cores, std::string_view soc_vendor = {});

/// The identity the timer diagnostics show: the brand, no x86 vendor, and
/// the implementer and part of the first core as family and model (0 and 0
/// without any core).
cpu_identity arm_cpu_identity(std::string brand, std::span<const midr_code> cores);

}  // namespace tavro
