// The s390x reader of machine/cpu/cpu_identity.h: the machine type of
// /proc/sysinfo and /proc/cpuinfo.
#include "machine/cpu/cpu_identity.h"

#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {

cpu_identity read_cpu_identity() {
    return s390x_cpu_identity(read_text_file("/proc/cpuinfo").value_or(""),
                              read_text_file("/proc/sysinfo").value_or(""));
}

std::string read_cpu_brand() {
    return read_cpu_identity().brand;
}

}  // namespace tavro
