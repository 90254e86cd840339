#include "timing/compliance.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(FastTimerCompliance, WindowsTenIsASystemTheRuleGoverns) {
    // The tests run on Windows 10 or later (a Windows 10 prefix under Wine).
    EXPECT_TRUE(system_is_6_2_or_later());
    // An HPET-driven counter is accepted on any processor; an unclassified
    // one only on the Intel models the rule lists.
    EXPECT_TRUE(fast_timer_is_compliant({14'318'180, 14'318'180, timer_source::hpet}));
    const cpu_identity cpu = read_cpu_identity();
    EXPECT_EQ(fast_timer_is_compliant({5'000'000, 5'000'000, timer_source::unknown}),
              timer_rule_allows(true, timer_source::unknown, cpu.vendor, cpu.model));
}

}  // namespace
}  // namespace tavro
