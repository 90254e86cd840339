// The x86 reader of the processor's own counter facts (timing/timers.h):
// CPUID.
#include "timing/timers.h"

namespace tavro {

tsc_info read_tsc_info() {
    return decode_tsc_info(read_cpuid_snapshot());
}

}  // namespace tavro
