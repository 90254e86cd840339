// The x86 reader of machine/cpu/cpu_identity.h: CPUID.
#include "machine/cpu/cpu_identity.h"

namespace tavro {

std::string read_cpu_brand() {
    return decode_cpu_brand(read_cpuid_snapshot());
}

cpu_identity read_cpu_identity() {
    return decode_cpu_identity(read_cpuid_snapshot());
}

}  // namespace tavro
