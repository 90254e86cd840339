// The riscv64 reader of machine/cpu/cpu_identity.h: the kernel's
// /proc/cpuinfo and the first core's device-tree node.
#include "machine/cpu/cpu_identity.h"

#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {

cpu_identity read_cpu_identity() {
    const std::string cpuinfo = read_text_file("/proc/cpuinfo").value_or("");
    // The device tree counts only beside a RISC-V cpuinfo: under an emulator
    // both are the host's.
    std::string compatible;
    if (is_riscv_cpuinfo(cpuinfo)) {
        compatible = read_text_file("/proc/device-tree/cpus/cpu@0/compatible").value_or("");
    }
    return riscv_cpu_identity(cpuinfo, compatible);
}

std::string read_cpu_brand() {
    return read_cpu_identity().brand;
}

}  // namespace tavro
