#include "timing/compliance.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

constexpr auto intel = cpu_vendor::intel;
constexpr auto amd = cpu_vendor::amd;
constexpr auto unknown = cpu_vendor::unknown;

TEST(TimerRule, OlderSystemsAcceptEveryTimer) {
    for (int code = 0; code <= 6; ++code) {
        EXPECT_TRUE(timer_rule_allows(false, static_cast<timer_source>(code), amd, 0));
        EXPECT_TRUE(timer_rule_allows(false, static_cast<timer_source>(code), unknown, 0x4F));
    }
}

TEST(TimerRule, HpetIsAlwaysAccepted) {
    for (auto vendor : {intel, amd, unknown}) {
        EXPECT_TRUE(timer_rule_allows(true, timer_source::hpet, vendor, 0));
        EXPECT_TRUE(timer_rule_allows(true, timer_source::hpet, vendor, 0x4F));
    }
}

TEST(TimerRule, InvariantCounterNeedsARecentIntelModel) {
    const auto itsc = timer_source::itsc;
    EXPECT_TRUE(timer_rule_allows(true, itsc, intel, 0x4E));
    EXPECT_TRUE(timer_rule_allows(true, itsc, intel, 0x50));
    EXPECT_TRUE(timer_rule_allows(true, itsc, intel, 0x5E));
    EXPECT_TRUE(timer_rule_allows(true, itsc, intel, 0x9E));
    EXPECT_FALSE(timer_rule_allows(true, itsc, intel, 0x4F));
    EXPECT_FALSE(timer_rule_allows(true, itsc, intel, 0x4D));
    EXPECT_FALSE(timer_rule_allows(true, itsc, intel, 0x3C));
    EXPECT_FALSE(timer_rule_allows(true, itsc, amd, 0x9E));
    EXPECT_FALSE(timer_rule_allows(true, itsc, unknown, 0x9E));
    EXPECT_FALSE(timer_rule_allows(true, timer_source::acpi, amd, 0x9E));
    EXPECT_TRUE(timer_rule_allows(true, timer_source::unknown, intel, 0x9E));
}

}  // namespace
}  // namespace tavro
