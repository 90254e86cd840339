#pragma once

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
#include <xmmintrin.h>
#define TAVRO_HAS_MXCSR 1
#endif

namespace tavro {

/// MXCSR bits for flush-to-zero (bit 15) and denormals-are-zero (bit 6).
inline constexpr unsigned int mxcsr_ftz_daz = 0x8040u;

/// Switches the calling thread's SSE unit to flush-to-zero and
/// denormals-are-zero, keeping every other MXCSR bit. Denormal operands cost
/// some processors a hundred cycles or more, which would make the score
/// depend on how far a wave has decayed rather than on the machine. The mode
/// stays set for the life of the thread. Does nothing on other processors.
inline void set_flush_denormals_to_zero() {
#ifdef TAVRO_HAS_MXCSR
    _mm_setcsr(_mm_getcsr() | mxcsr_ftz_daz);
#endif
}

}  // namespace tavro
