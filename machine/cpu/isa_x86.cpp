// The x86 reader of machine/cpu/isa.h: CPUID and XGETBV.
#include "machine/cpu/isa.h"

namespace tavro {

cpu_features read_cpu_features() {
    return decode_cpu_features(read_cpuid_snapshot());
}

std::string cpu_feature_list() {
    return format_cpu_feature_list(read_cpu_features());
}

}  // namespace tavro
