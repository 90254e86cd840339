// The ppc64el reader of machine/cpu/cpu_identity.h: the kernel's
// /proc/cpuinfo, else the instruction-set level of AT_HWCAP2.
#include "machine/cpu/cpu_identity.h"

#include <sys/auxv.h>

#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {

cpu_identity read_cpu_identity() {
    return power_cpu_identity(read_text_file("/proc/cpuinfo").value_or(""), getauxval(AT_HWCAP2));
}

std::string read_cpu_brand() {
    return read_cpu_identity().brand;
}

}  // namespace tavro
