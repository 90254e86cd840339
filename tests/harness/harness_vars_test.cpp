#include "harness/harness_vars.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

using u32s = std::vector<std::uint32_t>;
using u64s = std::vector<std::uint64_t>;

u32s range(std::uint32_t from, std::uint32_t to, std::uint32_t step = 1) {
    u32s v;
    for (std::uint32_t x = from; x <= to; x += step)
        v.push_back(x);
    return v;
}

TEST(HarnessText, ParseDecimalTakesWholeDigitTextsThatFit) {
    EXPECT_EQ(parse_decimal<std::uint32_t>("007"), 7u);
    EXPECT_EQ(parse_decimal<std::uint32_t>("4294967295"), 4294967295u);
    EXPECT_FALSE(parse_decimal<std::uint32_t>("4294967296"));
    EXPECT_EQ(parse_decimal<std::uint64_t>("4294967296"), 4294967296u);
    for (const char* bad : {"", " 1", "1 ", "+1", "-1", "0x10", "1a", "1.0"}) {
        EXPECT_FALSE(parse_decimal<std::uint32_t>(bad)) << bad;
    }
}

TEST(HarnessText, RangeAndListSplitting) {
    auto parts = split_range_spec("10-30:10");
    EXPECT_EQ(parts.lo, "10");
    EXPECT_EQ(parts.hi, "30");
    EXPECT_EQ(parts.step, "10");
    parts = split_range_spec("7");
    EXPECT_EQ(parts.lo, "7");
    EXPECT_EQ(parts.hi, "7");
    EXPECT_FALSE(parts.step);
    parts = split_range_spec(":5");
    EXPECT_FALSE(parts.lo);
    EXPECT_FALSE(parts.hi);
    EXPECT_EQ(parts.step, "5");
    parts = split_range_spec("-");
    EXPECT_FALSE(parts.lo);
    EXPECT_FALSE(parts.hi);
    parts = split_range_spec("1-2-3:");
    EXPECT_EQ(parts.lo, "1");
    EXPECT_EQ(parts.hi, "2-3");
    EXPECT_FALSE(parts.step);

    EXPECT_EQ(split_list("10,,20"), (std::vector<std::string_view>{"10", "", "20"}));
    EXPECT_EQ(split_list(""), (std::vector<std::string_view>{""}));
}

TEST(HarnessSweep, DurationTexts) {
    EXPECT_EQ(sweep_values("", 5, 60), range(5, 59));
    EXPECT_EQ(sweep_values("auto", 5, 60), range(5, 59));
    EXPECT_EQ(sweep_values("10-30:10", 5, 60), (u32s{10, 20, 30}));
    EXPECT_EQ(sweep_values("-20", 5, 60), range(5, 20));
    EXPECT_EQ(sweep_values("40-", 5, 60), range(40, 60));
    EXPECT_EQ(sweep_values(":5", 5, 60), range(5, 60, 5));
    EXPECT_EQ(sweep_values("10,20,30", 5, 60), (u32s{10, 20, 30}));
    EXPECT_EQ(sweep_values("30,10,10", 5, 60), (u32s{30, 10, 10}));
    EXPECT_EQ(sweep_values("7", 5, 60), (u32s{7}));
    for (const char* bad : {"30-10", "10-20:0", "10,,20", " 10", "10-20,30", "Auto", "x"}) {
        EXPECT_FALSE(sweep_values(bad, 5, 60)) << bad;
    }
    // Stepping stops before it could wrap around.
    EXPECT_EQ(sweep_values("4294967290-4294967295:4", 5, 60), (u32s{4294967290u, 4294967294u}));
}

TEST(HarnessSweep, ThreadTexts) {
    EXPECT_EQ(sweep_values("", 1, 8), range(1, 7));
    EXPECT_EQ(sweep_values("1-8", 1, 8), range(1, 8));
    EXPECT_EQ(sweep_values("0", 1, 8), (u32s{0}));
    const auto none = sweep_values("", 1, 1);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(HarnessSweep, CountsMatchTheValuesWithoutBuildingThem) {
    for (const char* text : {"", "auto", "10-30:10", "-20", "40-", ":5", "10,20,30", "7", "0",
                             "4294967290-4294967295:4", "30-10", "10,,20", "Auto", "1-8"}) {
        const auto values = sweep_values(text, 5, 60);
        const auto count = sweep_value_count(text, 5, 60);
        ASSERT_EQ(values.has_value(), count.has_value()) << text;
        if (values) {
            EXPECT_EQ(values->size(), *count) << text;
        }
    }
    EXPECT_EQ(sweep_value_count("", 1, 1), 0u);
    EXPECT_EQ(sweep_value_count("1-4294967295", 1, 8), 4294967295u);
    EXPECT_EQ(sweep_value_count("0-4294967295", 1, 8), 4294967296u);
    EXPECT_EQ(sweep_value_count("0-4294967295:2", 1, 8), 2147483648u);
}

TEST(HarnessSweep, SizeTexts) {
    EXPECT_EQ(sweep_sizes("")->size(), 14u);
    EXPECT_EQ(sweep_sizes("auto")->back(), 8192u);
    EXPECT_EQ(sweep_sizes("256"), (u64s{256}));
    EXPECT_EQ(sweep_sizes("128-512"), (u64s{128, 192, 256, 320, 384, 448, 512}));
    EXPECT_EQ(sweep_sizes("128-512:128"), (u64s{128, 256, 384, 512}));
    EXPECT_EQ(sweep_sizes("64-8192:1024"), (u64s{64}));
    EXPECT_EQ(sweep_sizes("-"), (u64s{64, 128, 192, 256, 320, 384}));
    EXPECT_EQ(sweep_sizes("512,64"), (u64s{512, 64}));
    for (const char* bad : {"100", "100,128", "512-128", "64-100"}) {
        EXPECT_FALSE(sweep_sizes(bad)) << bad;
    }
}

TEST(HarnessSweep, IsaTexts) {
    for (const char* text : {"", "auto", "sse2", "sse2-sse2", "-", "sse2:"}) {
        EXPECT_EQ(sweep_isa_names(text), (std::vector<std::string_view>{"sse2"})) << text;
    }
    for (const char* bad : {"sse2:1", "SSE2", "avx"}) {
        EXPECT_FALSE(sweep_isa_names(bad)) << bad;
    }
}

bench_config last_config;
int run_count = 0;

std::optional<double> fake_run(bench_config config, std::optional<cpu_topology>&) {
    last_config = std::move(config);
    ++run_count;
    return 42.0;
}

TEST(HarnessGen, ActionsChangeOneSettingOfTheCurrentConfig) {
    bench_config config;
    config.duration_s = 7;
    std::optional<cpu_topology> topology;
    const tavro_harness_context ctx{config, topology, &fake_run};

    auto none = h_none_var::gen("whatever", ctx);
    ASSERT_TRUE(none);
    ASSERT_EQ(none->size(), 1u);
    EXPECT_EQ((*none)[0].label, "none");
    EXPECT_EQ((*none)[0].estimate_s, 7u);

    auto durations = h_dur_var::gen("10,20", ctx);
    ASSERT_TRUE(durations);
    EXPECT_EQ((*durations)[1].label, "20");
    EXPECT_EQ((*durations)[1].estimate_s, 21u);

    auto sizes = h_size_var::gen("64", ctx);
    ASSERT_TRUE(sizes);
    EXPECT_EQ((*sizes)[0].estimate_s, 8u);

    auto isas = h_isa_var::gen("", ctx);
    ASSERT_TRUE(isas);
    EXPECT_EQ((*isas)[0].label, "sse2");
    EXPECT_EQ((*isas)[0].estimate_s, 7u);

    EXPECT_FALSE(h_dur_var::gen("Auto", ctx));
    EXPECT_FALSE(h_dur_var::count("Auto", ctx));
    EXPECT_EQ(h_none_var::count("whatever", ctx), 1u);
    EXPECT_EQ(h_dur_var::count("10,20", ctx), 2u);
    EXPECT_EQ(h_size_var::count("128-512:128", ctx), 4u);
    EXPECT_FALSE(h_size_var::count("100", ctx));
    EXPECT_EQ(h_isa_var::count("", ctx), 1u);
    EXPECT_EQ(h_threads_var::count("2-9", ctx), 8u);
    EXPECT_EQ(h_threads_var::count("", ctx), h_threads_var::gen("", ctx)->size());

    // Settings are read when the action runs, not when it is planned.
    config.grid_size = 128;
    EXPECT_EQ((*durations)[1].action(), 42.0);
    EXPECT_EQ(last_config.duration_s, 20u);
    EXPECT_EQ(last_config.grid_size, 128u);
    EXPECT_EQ(config.duration_s, 7u);

    (*isas)[0].action();
    EXPECT_EQ(last_config.isa_name, "sse2");
    EXPECT_EQ(last_config.duration_s, 7u);

    (*sizes)[0].action();
    (*sizes)[0].action();
    EXPECT_EQ(last_config.grid_size, 64u);
}

}  // namespace
}  // namespace tavro
