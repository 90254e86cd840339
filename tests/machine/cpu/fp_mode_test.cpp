#include "machine/cpu/fp_mode.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

namespace tavro {
namespace {

TEST(FlushDenormalsToZero, SetsTheBitsKeepsTheRestAndFlushes) {
    // A thread of its own, so the mode does not leak into other tests.
    std::thread([] {
        volatile double tiny = std::numeric_limits<double>::min();
        volatile double half = 0.5;
        EXPECT_NE(tiny * half, 0.0);

        const std::uint64_t before = fp_control_bits();
        set_flush_denormals_to_zero();
        EXPECT_EQ(fp_control_bits(), before | flush_to_zero_bits());
        volatile double denormal_bits = std::numeric_limits<double>::denorm_min();
#if defined(__x86_64__) || defined(__aarch64__)
        EXPECT_NE(flush_to_zero_bits(), 0u);
        EXPECT_EQ(tiny * half, 0.0);
        EXPECT_EQ(denormal_bits * 1.0, 0.0);
#else
        // No such mode (riscv64, ppc64el, s390x): the arithmetic stays IEEE.
        EXPECT_EQ(flush_to_zero_bits(), 0u);
        EXPECT_NE(tiny * half, 0.0);
        EXPECT_EQ(denormal_bits * 1.0, std::numeric_limits<double>::denorm_min());
#endif
    }).join();
}

}  // namespace
}  // namespace tavro
