// The riscv64 reader of machine/cpu/isa.h: the kernel's ISA string of the
// first core, else the single-letter extensions of AT_HWCAP (all that an
// emulator, whose /proc is the host's, tells).
#include "machine/cpu/isa.h"

#include <sys/auxv.h>

#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {

std::string cpu_feature_list() {
    const std::string cpuinfo = read_text_file("/proc/cpuinfo").value_or("");
    if (is_riscv_cpuinfo(cpuinfo)) {
        return riscv_isa_feature_list(cpuinfo_value(cpuinfo, "isa").value_or(""));
    }
    return riscv_hwcap_feature_list(getauxval(AT_HWCAP));
}

}  // namespace tavro
