// The riscv64 side of machine/cpu/fp_mode.h: no flush-to-zero mode to set
// (RISC-V's fcsr has rounding mode and exception flags only), so the arithmetic stays IEEE,
// denormals included. The solver's physics checks and fingerprints hold without the mode.
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
