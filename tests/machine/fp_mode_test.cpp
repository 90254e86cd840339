#include "machine/fp_mode.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

namespace tavro {
namespace {

#ifdef TAVRO_HAS_MXCSR
TEST(FlushDenormalsToZero, SetsBothBitsAndKeepsTheRest) {
    // A thread of its own, so the mode does not leak into other tests.
    std::thread([] {
        volatile double tiny = std::numeric_limits<double>::min();
        volatile double half = 0.5;
        EXPECT_NE(tiny * half, 0.0);

        // The low six bits are sticky status flags that the arithmetic sets.
        constexpr unsigned int control_bits = ~0x3Fu;
        const unsigned int before = _mm_getcsr() & control_bits;
        set_flush_denormals_to_zero();
        EXPECT_EQ(_mm_getcsr() & control_bits, before | 0x8040u);
        EXPECT_EQ(tiny * half, 0.0);
        volatile double denormal_bits = std::numeric_limits<double>::denorm_min();
        EXPECT_EQ(denormal_bits * 1.0, 0.0);
    }).join();
}
#endif

}  // namespace
}  // namespace tavro
