// The ppc64el reader of machine/cpu/isa.h: the hardware capabilities that
// the kernel hands every process.
#include "machine/cpu/isa.h"

#include <sys/auxv.h>

#include "machine/cpu/linux_cpuinfo.h"

namespace tavro {

std::string cpu_feature_list() {
    return power_hwcap_list(getauxval(AT_HWCAP), getauxval(AT_HWCAP2));
}

}  // namespace tavro
