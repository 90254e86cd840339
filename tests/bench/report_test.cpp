#include "bench/report.h"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "bench/progress_line.h"

namespace tavro {
namespace {

run_result one_thread(std::int64_t fast_us, std::int64_t coarse_ms) {
    run_result r;
    r.thread_count = 1;
    r.workload_name = "standing_wave";
    r.results.push_back({0, coarse_ms, fast_us, 42, 1'000'000'000});
    return r;
}

struct report_output {
    std::optional<double> score;
    std::string out;
    std::string err;
};

report_output report(const run_result& r) {
    std::ostringstream out;
    std::ostringstream err;
    auto score = report_result(r, "Test CPU @ 1.00GHz", out, err);
    return {score, out.str(), err.str()};
}

const std::string invalid_box = "==================\n  invalid result \n==================\n";

TEST(ReportResult, ValidRunPrintsTableVerdictAndScore) {
    const auto got = report(one_thread(10'000'000, 10'005));
    ASSERT_TRUE(got.score.has_value());
    EXPECT_DOUBLE_EQ(*got.score, 100.0);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.out,
              "thread  grid updates    time   MGups  iterations\n"
              "     0    1000000000  10.00s  100.00          42\n"
              "===============\n  valid result \n===============\n"
              "tavro v1.2.0 standing_wave\n"
              "Test CPU @ 1.00GHz\n"
              "final score: 100 MGups\n");

    const auto faster = report(one_thread(9'000'000, 9'000));
    EXPECT_NE(faster.out.find("final score: 111.11 MGups\n"), std::string::npos);
}

TEST(ReportResult, ScoreIsTheSumOfThreadRates) {
    run_result r;
    r.thread_count = 2;
    r.workload_name = "soft_gaussian";
    r.results.push_back({1, 2000, 2'000'000, 5, 100'000'000});  // 50 MGups
    r.results.push_back({0, 2000, 2'000'000, 6, 121'000'000});  // 60.5 MGups
    const auto got = report(r);
    ASSERT_TRUE(got.score.has_value());
    EXPECT_DOUBLE_EQ(*got.score, 110.5);
    EXPECT_NE(got.out.find("     1     100000000  2.00s  50.00           5\n"), std::string::npos);
    EXPECT_NE(got.out.find("final score: 110.50 MGups\n"), std::string::npos);
}

TEST(ReportResult, TimerToleranceIsThirtyOneMilliseconds) {
    EXPECT_TRUE(report(one_thread(10'031'999, 10'000)).score.has_value());
    EXPECT_TRUE(report(one_thread(999, 31)).score.has_value());
    EXPECT_TRUE(report(one_thread(10'000'000, 10'031)).score.has_value());

    const auto late = report(one_thread(10'031'999, 9'999));
    EXPECT_FALSE(late.score.has_value());
    EXPECT_EQ(late.err, invalid_box +
                            "disagreement between timers for total work is larger than tolerance\n"
                            "fast timer = 10031ms    coarse timer = 9999ms\n");
    // The table is printed before the disagreement is judged.
    EXPECT_NE(late.out.find("thread  grid updates"), std::string::npos);
    EXPECT_EQ(late.out.find("valid result"), std::string::npos);

    EXPECT_FALSE(report(one_thread(10'000'000, 10'032)).score.has_value());
}

// Two workers on two processors with a 6.5 s loop each that used `cpu_us`
// of processor time and waited `wait_us` for a processor.
run_result two_workers(std::int64_t cpu_us, std::int64_t wait_us) {
    run_result r;
    r.thread_count = 2;
    r.usable_cpus = 2;
    r.workload_name = "standing_wave";
    r.results.push_back({0, 6500, 6'500'000, 10, 1'000'000, cpu_us, wait_us});
    r.results.push_back({1, 6500, 6'500'000, 10, 1'000'000, cpu_us, wait_us});
    return r;
}

TEST(ReportResult, StoppedWorkersAreInvalid) {
    // Stopped after 1.5 s for 5 s: neither running nor waiting to run.
    const run_result stopped = two_workers(1'500'000, 20'000);
    EXPECT_NEAR(runnable_share(stopped).value_or(0), 0.2338, 1e-4);
    const auto s = report(stopped);
    EXPECT_FALSE(s.score.has_value());
    EXPECT_NE(s.out.find("thread  grid updates"), std::string::npos);
    EXPECT_EQ(s.err,
              invalid_box + "the workers were stopped or blocked for 77 % of the loop time\n");

    // A busy machine: little processor time, the rest spent waiting for one.
    EXPECT_TRUE(report(two_workers(1'000'000, 5'500'000)).score.has_value());
    // Stopped for 5 % of the loop at most, with the statistics' rounding
    // either way; a tenth is too much.
    EXPECT_TRUE(report(two_workers(6'176'000, 0)).score.has_value());
    EXPECT_TRUE(report(two_workers(6'000'000, 1'000'000)).score.has_value());
    EXPECT_FALSE(report(two_workers(6'174'000, 0)).score.has_value());
    EXPECT_EQ(report(two_workers(5'000'000, 850'000)).err,
              invalid_box + "the workers were stopped or blocked for 10 % of the loop time\n");

    // 128 threads on 2 processors: each ran 1/64 of its loop and waited the rest.
    run_result crowded;
    crowded.thread_count = 128;
    crowded.usable_cpus = 2;
    crowded.workload_name = "standing_wave";
    for (std::uint32_t i = 0; i < 128; ++i) {
        crowded.results.push_back({i, 2000, 2'000'000, 1, 1, 31'000, 1'960'000});
    }
    EXPECT_TRUE(report(crowded).score.has_value());
}

TEST(ReportResult, WithoutWaitingTimesWorkersThatRanTooLittleAreInvalid) {
    // Where the system keeps no waiting time, processor time alone decides.
    run_result stopped = two_workers(1'500'000, -1);
    EXPECT_EQ(runnable_share(stopped), std::nullopt);
    EXPECT_NEAR(running_share(stopped).value_or(0), 0.2308, 1e-4);
    const auto s = report(stopped);
    EXPECT_FALSE(s.score.has_value());
    EXPECT_EQ(s.err, invalid_box +
                         "the workers ran 23 % of the loop time: the process was stopped or the "
                         "machine was busy\n");

    // 128 threads on 2 processors kept both busy; a quarter of the time is
    // the floor.
    run_result crowded;
    crowded.thread_count = 128;
    crowded.usable_cpus = 2;
    crowded.workload_name = "standing_wave";
    for (std::uint32_t i = 0; i < 128; ++i) {
        crowded.results.push_back({i, 2000, 2'000'000, 1, 1, 31'000, -1});
    }
    EXPECT_NEAR(running_share(crowded).value_or(0), 0.992, 1e-3);
    EXPECT_TRUE(report(crowded).score.has_value());
    EXPECT_TRUE(report(two_workers(6'500'000 / 4, -1)).score.has_value());

    // Clocks that tell nothing decide nothing.
    stopped.results[1].cpu_us = -1;
    EXPECT_EQ(running_share(stopped), std::nullopt);
    stopped.results[0].cpu_us = stopped.results[1].cpu_us = 0;
    EXPECT_EQ(running_share(stopped), std::nullopt);
    stopped.results[0].cpu_us = 1;
    stopped.usable_cpus = 0;
    EXPECT_EQ(running_share(stopped), std::nullopt);
    EXPECT_TRUE(report(stopped).score.has_value());
}

TEST(ReportResult, FailedOrIncompleteRunsAreInvalidWithoutTable) {
    run_result failed = one_thread(10'000'000, 10'000);
    failed.failed = true;
    const auto f = report(failed);
    EXPECT_FALSE(f.score.has_value());
    EXPECT_EQ(f.out, "");
    EXPECT_EQ(f.err, invalid_box);

    run_result missing;
    missing.thread_count = 4;
    for (std::uint32_t i = 0; i < 3; ++i) {
        missing.results.push_back({i, 1000, 1'000'000, 1, 1});
    }
    const auto m = report(missing);
    EXPECT_FALSE(m.score.has_value());
    EXPECT_EQ(m.out, "");
    EXPECT_EQ(m.err, invalid_box + "not all threads produced a result\n");
}

TEST(ReportResult, ZeroFastTimeStaysValidWhenTimersAgree) {
    const auto got = report(one_thread(0, 0));
    ASSERT_TRUE(got.score.has_value());
    EXPECT_NE(got.out.find("final score: inf MGups\n"), std::string::npos);
}

TEST(ReportBoxes, ExactText) {
    std::ostringstream err;
    print_warning_box(err);
    EXPECT_EQ(err.str(), "===========\n  warning  \n===========\n");
}

TEST(ProgressLine, SumsRatesAndTakesTheFurthestIteration) {
    progress_table table(4);
    const double rates[] = {10.0, 10.5, 11.0, 0.0};
    const std::uint64_t iterations[] = {7, 8, 8, 0};
    for (std::uint32_t i = 0; i < 4; ++i) {
        table[i].rate_mgups = rates[i];
        table[i].iterations = iterations[i];
    }
    EXPECT_EQ(format_progress(3, 30, table),
              "\rbenchmarking... 3/30s             31.5 MGups  8 iterations");

    progress_table idle(2);
    EXPECT_EQ(format_progress(0, 5, idle),
              "\rbenchmarking... 0/5s                0 MGups  0 iterations");

    progress_table fast(1);
    fast[0].rate_mgups = 123456.7;
    EXPECT_EQ(format_progress(1, 1, fast),
              "\rbenchmarking... 1/1s        1.235e+05 MGups  0 iterations");

    // Slots sit in blocks of their own.
    EXPECT_EQ(reinterpret_cast<const char*>(&table[1]) - reinterpret_cast<const char*>(&table[0]),
              128);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&table[0]) % 128, 0u);
}

}  // namespace
}  // namespace tavro
