// The ppc64el reader of the processor's own counter facts (timing/timers.h):
// the time base, whose rate the kernel gives in /proc/cpuinfo. It runs at a
// constant rate by architecture.
#include "timing/timers.h"

#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {

tsc_info read_tsc_info() {
    return {.invariant = true,
            .tsc_hz = power_timebase_hz(read_text_file("/proc/cpuinfo").value_or("")),
            .crystal_hz = 0};
}

}  // namespace tavro
