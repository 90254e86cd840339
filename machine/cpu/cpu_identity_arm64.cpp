// The 64-bit Arm reader of machine/cpu/cpu_identity.h: the cores' MIDR_EL1 and
// the kernel's description of the system on chip, which every user may read.
#include "machine/cpu/cpu_identity.h"

#include <asm/hwcap.h>
#include <sys/auxv.h>

#include "machine/cpu/arm_identity.h"
#include "machine/text_file.h"

namespace tavro {

namespace {

struct arm_cores {
    std::vector<midr_code> cores;
    /// Whether the running kernel itself reported them (sysfs or
    /// /proc/cpuinfo), rather than an instruction the kernel or an
    /// emulator answers for the current core only.
    bool from_kernel = false;
};

arm_cores read_cores() {
    arm_cores found;
    found.cores = read_sysfs_midrs("/sys");
    if (found.cores.empty()) {
        if (const auto cpuinfo = read_text_file("/proc/cpuinfo")) {
            found.cores = parse_cpuinfo_midrs(*cpuinfo);
        }
    }
    found.from_kernel = !found.cores.empty();
    if (!found.from_kernel && (getauxval(AT_HWCAP) & HWCAP_CPUID) != 0) {
        // The kernel traps and emulates this read when it sets HWCAP_CPUID.
        std::uint64_t midr = 0;
        asm volatile("mrs %0, midr_el1" : "=r"(midr));
        found.cores.push_back(decode_midr(midr));
    }
    return found;
}

std::string read_brand(const arm_cores& found) {
    // Under an emulator the sysfs files are the host's, which may be another
    // processor altogether: the SoC counts only when the kernel itself
    // listed the cores.
    const std::string_view soc_vendor = found.from_kernel ? read_soc_vendor("/sys") : "";
    return arm_processor_name(found.cores, soc_vendor);
}

}  // namespace

std::string read_cpu_brand() {
    return read_brand(read_cores());
}

cpu_identity read_cpu_identity() {
    const arm_cores found = read_cores();
    return arm_cpu_identity(read_brand(found), found.cores);
}

}  // namespace tavro
