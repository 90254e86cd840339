// The x86 side of machine/cpu/fp_mode.h: the SSE control register MXCSR.
#include "machine/cpu/fp_mode.h"

#include <xmmintrin.h>

namespace tavro {

namespace {

constexpr unsigned int mxcsr_ftz_daz = 0x8040u;  // flush-to-zero, denormals-are-zero
constexpr unsigned int mxcsr_status_flags = 0x3Fu;

}  // namespace

void set_flush_denormals_to_zero() {
    _mm_setcsr(_mm_getcsr() | mxcsr_ftz_daz);
}

std::uint64_t fp_control_bits() {
    return _mm_getcsr() & ~mxcsr_status_flags;
}

std::uint64_t flush_to_zero_bits() {
    return mxcsr_ftz_daz;
}

}  // namespace tavro
