#include "harness/harness_runner.h"

#include <algorithm>
#include <deque>
#include <sstream>

#include <gtest/gtest.h>

namespace tavro {
namespace {

std::deque<std::optional<double>> scripted_scores;
std::vector<bench_config> seen_configs;

std::optional<double> scripted_run(bench_config config, std::optional<cpu_topology>&) {
    seen_configs.push_back(std::move(config));
    std::optional<double> score;
    if (!scripted_scores.empty()) {
        score = scripted_scores.front();
        scripted_scores.pop_front();
    }
    return score;
}

harness_settings settings_for(std::string var, std::string option, std::uint32_t sub_runs) {
    harness_settings settings;
    settings.var_name = std::move(var);
    settings.option_string = std::move(option);
    settings.sub_runs = sub_runs;
    return settings;
}

struct sweep_output {
    std::string out;
    std::string err;
};

std::uint64_t one_mebibyte() {
    return 1 << 20;
}

sweep_output sweep(harness_settings& settings, bench_config& config,
                   std::deque<std::optional<double>> scores,
                   std::uint64_t (*memory_budget)() = &one_mebibyte) {
    scripted_scores = std::move(scores);
    seen_configs.clear();
    std::optional<cpu_topology> topology;
    std::ostringstream out;
    std::ostringstream err;
    run_harness(settings, {config, topology, &scripted_run, memory_budget}, out, err);
    return {out.str(), err.str()};
}

TEST(HarnessRunner, DefaultSweepRunsThreeTimesAndTabulates) {
    harness_settings settings;
    bench_config config;
    const auto got = sweep(settings, config, {100.0, std::nullopt, 102.0});
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.out,
              "!!HARNESS!! run values:\n"
              "none\n"
              "!!HARNESS!! estimated total time = 1m 30s\n"
              "\n!!HARNESS!! run 1/3\n\n"
              "\n!!HARNESS!! run 2/3\n\n"
              "\n!!HARNESS!! run 3/3\n\n"
              "\n!!HARNESS!!\n"
              "=====none results=====\n"
              " none     |    run 1    run 2    run 3 |      avg |  max/min\n"
              "============================================================\n"
              " none     |   100.00      ---   102.00 |   101.00 |    2.00%\n");
    EXPECT_EQ(seen_configs.size(), 3u);
    ASSERT_EQ(settings.runs.size(), 1u);
    EXPECT_EQ(settings.runs[0].scores.size(), 3u);
}

TEST(HarnessRunner, MarkersCountAcrossRunsAndRowsShowMissingScores) {
    harness_settings settings = settings_for("duration", "10-30:10", 3);
    bench_config config;
    const auto got = sweep(settings, config, {1.0, 2.0, 3.0});
    EXPECT_NE(got.out.find("!!HARNESS!! estimated total time = 3m 9s\n"), std::string::npos);
    EXPECT_NE(got.out.find("!!HARNESS!! run 9/9\n"), std::string::npos);
    EXPECT_NE(got.out.find(" 30       |      ---      ---      --- |      --- |      ---\n"),
              std::string::npos);
    EXPECT_NE(got.out.find(" 10       |     1.00     2.00     3.00 |     2.00 |  200.00%\n"),
              std::string::npos);
    ASSERT_EQ(seen_configs.size(), 9u);
    EXPECT_EQ(seen_configs[3].duration_s, 20u);
}

TEST(HarnessRunner, ZeroSubRunsAndWideLabels) {
    harness_settings settings = settings_for("size", "64", 0);
    bench_config config;
    auto got = sweep(settings, config, {});
    EXPECT_TRUE(seen_configs.empty());
    EXPECT_NE(got.out.find("!!HARNESS!! estimated total time = 0s\n"), std::string::npos);
    EXPECT_NE(got.out.find(" size     | |      avg |  max/min\n"
                           "=================================\n"
                           " 64       | |      --- |      ---\n"),
              std::string::npos);

    harness_settings isa = settings_for("isa", "", 1);
    got = sweep(isa, config, {5.0});
    EXPECT_NE(got.out.find(" isa      |    run 1 |      avg |  max/min\n"
                           "==========================================\n"
                           " sse2     |     5.00 |     5.00 |    0.00%\n"),
              std::string::npos);
}

TEST(HarnessRunner, BadVariableOrOptionTextRunsNothing) {
    harness_settings unknown = settings_for("colour", "", 3);
    bench_config config;
    auto got = sweep(unknown, config, {});
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "unknown var colour\n");

    harness_settings bad = settings_for("size", "100", 3);
    got = sweep(bad, config, {});
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "couldn't generate runs for harness for size\t100\n");
    EXPECT_TRUE(seen_configs.empty());
}

TEST(HarnessRunner, PlanTooLargeForMemoryIsRefusedBeforeItIsBuilt) {
    bench_config config;
    // The whole 32-bit range would take a terabyte; it is refused at once,
    // as is a plan just beyond the 1 MiB budget.
    const std::uint64_t beyond = one_mebibyte() / planned_run_bytes + 1;
    for (const std::string& option : {std::string("1-4294967295"), "1-" + std::to_string(beyond)}) {
        harness_settings huge = settings_for("threads", option, 0);
        const auto got = sweep(huge, config, {});
        EXPECT_EQ(got.err.rfind("the harness plan for threads of ", 0), 0u) << got.err;
        EXPECT_NE(got.err.find(" of memory, more than is available; refused\n"), std::string::npos);
        EXPECT_EQ(std::count(got.err.begin(), got.err.end(), '\n'), 1);
        EXPECT_EQ(got.out.rfind("\n!!HARNESS!!\n=====threads results=====\n", 0), 0u);
        EXPECT_EQ(std::count(got.out.begin(), got.out.end(), '\n'), 5);  // no row
        EXPECT_TRUE(huge.runs.empty());
        EXPECT_TRUE(seen_configs.empty());
    }
    // Small plans are unchanged, and an unknown budget refuses nothing.
    harness_settings small = settings_for("threads", "1-100", 0);
    auto got = sweep(small, config, {});
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(small.runs.size(), 100u);
    EXPECT_LT(100 * planned_run_bytes, one_mebibyte());
    harness_settings unknown = settings_for("threads", "1-10000", 0);
    got = sweep(unknown, config, {}, [] { return std::uint64_t{0}; });
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(unknown.runs.size(), 10000u);
}

TEST(HarnessRunner, LongLabelWidensEveryLine) {
    harness_settings settings = settings_for("threads", "4294967295", 1);
    bench_config config;
    const auto got = sweep(settings, config, {1.0});
    EXPECT_NE(got.out.find(" threads    |    run 1 |      avg |  max/min\n"
                           "============================================\n"
                           " 4294967295 |     1.00 |     1.00 |    0.00%\n"),
              std::string::npos);
}

}  // namespace
}  // namespace tavro
