// machine/cpu/fp_mode.h for the architectures with no flush-to-zero mode to
// set: riscv64 (the fcsr has rounding mode and exception flags only),
// ppc64el (the FPSCR's non-IEEE bit NI is optional and its effect
// implementation-defined) and s390x (the floating-point control register has
// no such mode). The arithmetic stays IEEE, denormals included; the solver's
// physics checks and fingerprints hold without the mode.
#include "machine/cpu/fp_mode.h"

namespace tavro {

void set_flush_denormals_to_zero() {}

std::uint64_t fp_control_bits() {
    return 0;
}

std::uint64_t flush_to_zero_bits() {
    return 0;
}

}  // namespace tavro
