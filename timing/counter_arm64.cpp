// The 64-bit Arm reader of the processor's own counter facts
// (timing/timers.h): the generic timer's frequency register.
#include "timing/timers.h"

namespace tavro {

tsc_info read_tsc_info() {
    // CNTFRQ_EL0 holds the system counter's frequency as the firmware set
    // it; user space may read it. The counter runs at a constant rate by
    // architecture.
    std::uint64_t frequency = 0;
    asm volatile("mrs %0, cntfrq_el0" : "=r"(frequency));
    return {.invariant = true, .tsc_hz = frequency, .crystal_hz = 0};
}

}  // namespace tavro
