#include "console/text_format.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(FormatBytes, UnitBoundariesAndRounding) {
    EXPECT_EQ(format_bytes(0), "0 B");
    EXPECT_EQ(format_bytes(999), "999 B");
    EXPECT_EQ(format_bytes(1000), "1000 B");
    EXPECT_EQ(format_bytes(1023), "1023 B");
    EXPECT_EQ(format_bytes(1024), "1.00 KiB");
    EXPECT_EQ(format_bytes(999'999), "976.56 KiB");
    EXPECT_EQ(format_bytes(1'048'575), "1024.00 KiB");
    EXPECT_EQ(format_bytes(1'572'864), "1.50 MiB");
    EXPECT_EQ(format_bytes(10'000'000), "9.54 MiB");
    EXPECT_EQ(format_bytes(3'187'200'000), "2.97 GiB");
    EXPECT_EQ(format_bytes(std::numeric_limits<std::uint64_t>::max()), "16.00 EiB");
}

TEST(FormatSi, PrefixBoundariesAndRounding) {
    EXPECT_EQ(format_si(0, "Hz"), "0 Hz");
    EXPECT_EQ(format_si(999, "Hz"), "999 Hz");
    EXPECT_EQ(format_si(1000, "Hz"), "1.00 KHz");
    EXPECT_EQ(format_si(1023, "Hz"), "1.02 KHz");
    EXPECT_EQ(format_si(1024, "Hz"), "1.02 KHz");
    EXPECT_EQ(format_si(999'999, "Hz"), "1000.00 KHz");
    EXPECT_EQ(format_si(1'048'575, "Hz"), "1.05 MHz");
    EXPECT_EQ(format_si(1'572'864, "Hz"), "1.57 MHz");
    EXPECT_EQ(format_si(10'000'000, "Hz"), "10.00 MHz");
    EXPECT_EQ(format_si(3'187'200'000, "Hz"), "3.19 GHz");
    EXPECT_EQ(format_si(std::numeric_limits<std::uint64_t>::max(), "Hz"), "18.45 EHz");
    EXPECT_EQ(format_si(5, ""), "5 ");
}

TEST(FormatDuration, FieldsAppearAsNeeded) {
    EXPECT_EQ(format_duration(0), "0s");
    EXPECT_EQ(format_duration(59), "59s");
    EXPECT_EQ(format_duration(60), "1m 0s");
    EXPECT_EQ(format_duration(3599), "59m 59s");
    EXPECT_EQ(format_duration(3600), "1h 0m 0s");
    EXPECT_EQ(format_duration(3605), "1h 0m 5s");
    EXPECT_EQ(format_duration(90000), "25h 0m 0s");
}

}  // namespace
}  // namespace tavro
