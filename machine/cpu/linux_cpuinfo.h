#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "machine/cpu/cpu_identity.h"

namespace tavro {

// The processor facts of riscv64, ppc64el and s390x, decoded from the texts
// and words their Linux kernels give every user: /proc/cpuinfo,
// /proc/sysinfo, the device tree and AT_HWCAP/AT_HWCAP2. Plain values in,
// so they are tested on any machine; the *_riscv64.cpp, *_ppc64el.cpp and
// *_s390x.cpp files pass the running system's. Under qemu-user the texts
// are the build host's: each decoder uses a text only when it describes its
// own architecture, and otherwise names no more than the architecture.

/// The value of the first "key : value" line of a /proc/cpuinfo text whose
/// key, blanks trimmed, is exactly `key`; blanks around the value trimmed.
std::optional<std::string_view> cpuinfo_value(std::string_view cpuinfo, std::string_view key);

/// RISC-V. The brand is the kernel's "uarch" ("sifive,u74-mc"), else the
/// first entry of the first core's device-tree "compatible" list (the
/// NUL-separated text of /proc/device-tree/cpus/cpu@N/compatible) when it
/// names more than "riscv", else "RISC-V" with whichever of the "mvendorid",
/// "marchid" and "mimpid" values the kernel gives; plain "RISC-V" when the
/// cpuinfo is not a RISC-V one (it then has no "isa" line starting "rv").
/// family: mvendorid; model: the low 32 bits of marchid.
cpu_identity riscv_cpu_identity(std::string_view cpuinfo, std::string_view dt_compatible);

/// Whether the cpuinfo describes a RISC-V processor.
bool is_riscv_cpuinfo(std::string_view cpuinfo);

/// The RISC-V features: the extensions of an ISA string ("rv64imafdc_zicsr_zba"
/// gives "I M A F D C ZICSR ZBA"): each letter after "rv32"/"rv64" up to
/// the first '_', then each '_'-separated name, in upper case. Empty for a
/// text that is not an ISA string.
std::string riscv_isa_feature_list(std::string_view isa);

/// The RISC-V features from AT_HWCAP, whose bit n is the single-letter
/// extension 'A' + n: "I M A F D C V", in the ISA string's canonical order.
std::string riscv_hwcap_feature_list(std::uint64_t hwcap);

/// The answers of the riscv_hwprobe system call (Linux 6.4 and later) that
/// name extensions: the RISCV_HWPROBE_KEY_BASE_BEHAVIOR and
/// RISCV_HWPROBE_KEY_IMA_EXT_0 values for all online cores.
struct riscv_hwprobe_values {
    std::uint64_t base_behavior = 0;
    std::uint64_t ima_ext_0 = 0;
};

/// The extensions hwprobe reports usable by user space: "I M A" for the IMA
/// base behaviour, then "F D", "C", "V" and the multi-letter names of the
/// IMA_EXT_0 bits up to Zawrs (bit 48), in the ISA string's canonical
/// order ("I M A F D C V ZICBOZ ZBA ZBB ZBS"). Bits without a known name
/// are left out; nothing at all without the IMA base behaviour, which the
/// IMA_EXT_0 bits are defined against.
std::string riscv_hwprobe_feature_list(const riscv_hwprobe_values& probe);

/// A RISC-V feature list with the names of `additions` it lacks inserted at
/// their canonical places: single letters in the order "IEMAFDQLCBKJTPVH",
/// then Z extensions by the letter after the Z in that order and then by
/// name, then S, then X extensions by name. The names of `list` keep their
/// order, so a kernel's ISA string reads as the kernel prints it.
std::string riscv_merge_feature_lists(std::string_view list, std::string_view additions);

/// A device-tree cell value: a big-endian 32- or 64-bit number (4 or 8
/// bytes); 0 for any other length.
std::uint64_t device_tree_number(std::string_view bytes);

/// POWER. A POWER cpuinfo has a "cpu" and a "timebase" line. The brand is
/// the "cpu" value up to its first comma ("POWER9 (architected)"), then
/// ", revision " and the "revision" value's number ("2.2"), then ", " and
/// the "platform" value ("pSeries", "PowerNV") where given. family and model
/// are the version and revision halves of the processor version register
/// ("(pvr 004e 1202)": 0x4e and 0x1202). Without a POWER cpuinfo the brand
/// names the instruction-set level of AT_HWCAP2 ("Power ISA 3.1", "3.0",
/// "2.07"), else "POWER".
cpu_identity power_cpu_identity(std::string_view cpuinfo, std::uint64_t hwcap2);

/// The POWER feature list: the kernel's and C library's name of every set
/// bit of AT_HWCAP, then of AT_HWCAP2, from the highest bit down, in upper
/// case ("PPC64 ALTIVEC FPU MMU ... ARCH_3_00 IEEE128"). Bits without a
/// name are left out.
std::string power_hwcap_list(std::uint64_t hwcap, std::uint64_t hwcap2);

/// The timebase's rate in Hz from a POWER cpuinfo's "timebase" line; 0
/// when there is none.
std::uint64_t power_timebase_hz(std::string_view cpuinfo);

/// s390x. The machine type comes from /proc/sysinfo's "Type:" line, else
/// from the "machine = " field of cpuinfo's "processor N:" lines (on an
/// s390x cpuinfo, whose vendor_id is "IBM/S390"). The brand is the maker
/// (sysinfo's "Manufacturer:", else "IBM"), the model name of the type
/// where known and the type ("IBM z15 (8561)", "IBM machine type 9999");
/// "IBM z/Architecture" when neither text gives the type. family: the
/// type's four hex digits as a number (0x8561); model 0.
cpu_identity s390x_cpu_identity(std::string_view cpuinfo, std::string_view sysinfo);

/// The s390x feature list: the kernel's name of every set bit of AT_HWCAP
/// (its "features" line), in bit order and upper case ("ESAN3 ZARCH STFLE
/// MSA ..."); bits without a name are left out.
std::string s390x_hwcap_list(std::uint64_t hwcap);

/// The TOD clock's rate: bit 51 of the clock steps once a microsecond, so
/// the 64-bit value counts 4096 per microsecond.
inline constexpr std::uint64_t s390x_tod_hz = 4'096'000'000;

}  // namespace tavro
