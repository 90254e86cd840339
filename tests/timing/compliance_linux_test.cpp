#include "timing/compliance.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(FastTimerCompliance, LinuxIsNotASystemTheRuleGoverns) {
    EXPECT_FALSE(system_is_6_2_or_later());
    EXPECT_TRUE(fast_timer_is_compliant({1'000'000'000, 1'000'000'000, timer_source::unknown}));
    EXPECT_TRUE(fast_timer_is_compliant(fast_timer::info()));
}

}  // namespace
}  // namespace tavro
