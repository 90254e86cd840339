#include "bench/run_coordinator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <gtest/gtest.h>

#include "bench/console_writer.h"
#include "bench/driver.h"
#include "machine/memory/memory.h"

namespace tavro {
namespace {

/// Which operation of which worker a fake workload fails in, and how.
struct failure_plan {
    enum class op { none, allocate, initialize, check_step } what = op::none;
    std::uint32_t worker = 0;
    std::uint64_t round = 0;
    /// Instead of returning its error: throw std::bad_alloc, or another exception.
    enum class how { error, bad_alloc, exception } way = how::error;
};

failure_plan plan;

/// A workload that does no physics: cheap, and able to fail on request.
class fake_workload : public workload {
  public:
    explicit fake_workload(std::uint32_t index) : workload(index) {}
    error_text allocate_fields(const grid_request& request) override {
        n_ = request.grid_size;
        return fails(failure_plan::op::allocate) ? error_text("field allocation failed")
                                                 : std::nullopt;
    }
    error_text initialize() override {
        return fails(failure_plan::op::initialize) ? error_text("fake init failure") : std::nullopt;
    }
    error_text before_step(std::uint64_t) override { return std::nullopt; }
    error_text step() override { return std::nullopt; }
    error_text check_step(std::uint64_t iteration) override {
        return iteration == plan.round && fails(failure_plan::op::check_step)
                   ? error_text("\nfake check failure")
                   : std::nullopt;
    }
    error_text validate(std::uint64_t) override { return std::nullopt; }
    std::uint64_t work_per_step() const override { return 2 * n_ * n_ * n_; }

  private:
    bool fails(failure_plan::op op) const {
        if (plan.what != op || plan.worker != thread_index()) {
            return false;
        }
        if (plan.way == failure_plan::how::bad_alloc) {
            throw std::bad_alloc();
        }
        if (plan.way == failure_plan::how::exception) {
            throw std::runtime_error("fake trouble");
        }
        return true;
    }
    std::uint64_t n_ = 0;
};

std::atomic<int> workloads_made{0};

std::unique_ptr<workload> make_fake(std::string_view name, std::uint32_t index, std::string_view) {
    ++workloads_made;
    if (name != "fake") {
        return nullptr;
    }
    return std::make_unique<fake_workload>(index);
}

bool never_compliant(const timer_info&) {
    return false;
}
bool always_compliant(const timer_info&) {
    return true;
}

// The real factory, threads and checks, except that the timer verdict does
// not depend on the processor and system the tests run on.
run_environment host_independent() {
    run_environment env = run_environment::standard();
    env.timer_is_compliant = &always_compliant;
    return env;
}
error_text isa_trouble(std::string_view) {
    return "isa trouble\n";
}

struct run_output {
    run_result result;
    std::string out;
    std::string err;
};

struct run_setup {
    std::uint32_t threads = 1;
    std::string workload = "fake";
    std::uint64_t grid_size = 64;
    bool bypass = false;
    bool strict_isa = false;
    std::string threading = "os";
    /// Both streams into `out`, as a console or a pipe with 2>&1 shows them.
    bool one_stream = false;
};

run_output run(const run_setup& setup, run_environment env = host_independent()) {
    std::ostringstream out;
    std::ostringstream err;
    env.out = &out;
    env.err = setup.one_stream ? &out : &err;
    env.make_workload = &make_fake;
    const bool large_pages = false;
    const thread_manager manager{setup.threads, {}};
    const run_request request{large_pages,     manager,          setup.workload,
                              "default_isa",   setup.strict_isa, 1,
                              setup.grid_size, setup.bypass,     setup.threading};
    run_result result = execute_run(request, env);
    return {std::move(result), out.str(), err.str()};
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(RunCoordinator, ValidRunWithOneAndManyThreads) {
    plan = {};
    auto one = run({.threads = 1});
    EXPECT_FALSE(one.result.failed);
    ASSERT_EQ(one.result.results.size(), 1u);
    EXPECT_NE(one.out.find("running with 1 thread (os)\n"), std::string::npos);
    EXPECT_NE(one.out.find("allocating fields.... \ninitalizing fields...\ninitialization took "),
              std::string::npos);
    EXPECT_NE(one.out.find("starting bench..\n\rbenchmarking... 0/1s"), std::string::npos);
    EXPECT_NE(one.out.find(" iterations\nvalidating result..\n"), std::string::npos);
    EXPECT_EQ(one.err, "");

    auto four = run({.threads = 4, .grid_size = 192, .threading = "numa"});
    EXPECT_FALSE(four.result.failed);
    ASSERT_EQ(four.result.results.size(), 4u);
    EXPECT_NE(four.out.find("running with 4 threads (numa)\n192 x 192 x 192 grid\n"
                            "445.64 MiB per thread\n1.74 GiB total\n"),
              std::string::npos);
    std::vector<std::uint32_t> indices;
    for (const thread_result& r : four.result.results) {
        indices.push_back(r.thread_index);
        EXPECT_EQ(r.cell_updates, 2ull * 192 * 192 * 192 * r.iterations);
        EXPECT_GE(r.coarse_ms, 1000);
        EXPECT_GT(r.fast_us, 900'000);
    }
    std::sort(indices.begin(), indices.end());
    EXPECT_EQ(indices, (std::vector<std::uint32_t>{0, 1, 2, 3}));
}

TEST(RunCoordinator, FailuresBeforeTheLoopStopEveryWorker) {
    plan = {};
    auto unknown = run({.threads = 4, .workload = "nothing"});
    EXPECT_TRUE(unknown.result.failed);
    EXPECT_TRUE(unknown.result.results.empty());
    EXPECT_EQ(count(unknown.err, "could not initalize workload nothing in thread "), 1u);
    EXPECT_EQ(unknown.out.find("initalizing fields"), std::string::npos);
    // Threads that fail for one cause are told once, then counted.
    auto many = run({.threads = 64, .workload = "nothing"});
    EXPECT_EQ(count(many.err, "\n"), 2u) << many.err;
    EXPECT_EQ(many.err.rfind("could not initalize workload nothing in thread ", 0), 0u);
    EXPECT_NE(many.err.find("\n... and 63 more threads: could not initalize workload nothing\n"),
              std::string::npos);
    EXPECT_NE(unknown.err.find("\n... and 3 more threads: could not initalize workload nothing\n"),
              std::string::npos);

    plan = {failure_plan::op::allocate, 2, 0};
    auto alloc = run({.threads = 4});
    EXPECT_TRUE(alloc.result.failed);
    EXPECT_TRUE(alloc.result.results.empty());
    EXPECT_EQ(alloc.err, "field allocation failed in thread 2\nfield allocation failed\n");
    EXPECT_EQ(alloc.out.find("initalizing fields"), std::string::npos);
    // However soon a worker fails, its lines come after the reporter's.
    plan = {failure_plan::op::allocate, 7, 0};
    auto early = run({.threads = 8, .one_stream = true});
    EXPECT_NE(early.out.find("allocating fields.... \nfield allocation failed in thread 7\n"),
              std::string::npos)
        << early.out;

    plan = {failure_plan::op::initialize, 1, 0};
    auto init = run({.threads = 3});
    EXPECT_TRUE(init.result.failed);
    EXPECT_TRUE(init.result.results.empty());
    EXPECT_EQ(init.err, "failed to initalize field in thread 1\nfake init failure\n");
    EXPECT_EQ(init.out.find("starting bench"), std::string::npos);
}

TEST(RunCoordinator, FailureInTheLoopStopsTheOthers) {
    plan = {failure_plan::op::check_step, 1, 10};
    auto got = run({.threads = 2});
    EXPECT_TRUE(got.result.failed);
    EXPECT_EQ(got.err, "\nfake check failure\n");
    for (const thread_result& r : got.result.results) {
        EXPECT_NE(r.thread_index, 1u);
    }
}

TEST(RunCoordinator, ExceptionsInWorkersEndTheRunWithoutHanging) {
    using how = failure_plan::how;
    using op = failure_plan::op;
    // Before the first barrier phase, between the first and the second, and
    // in the timed loop: the thrower says so once, every worker leaves.
    for (const op where : {op::allocate, op::initialize, op::check_step}) {
        SCOPED_TRACE(static_cast<int>(where));
        plan = {where, 2, 3, how::bad_alloc};
        auto got = run({.threads = 4});
        EXPECT_TRUE(got.result.failed);
        EXPECT_EQ(got.err, "not enough memory in thread 2\n");
        for (const thread_result& r : got.result.results) {
            EXPECT_NE(r.thread_index, 2u);
        }
    }
    plan = {op::initialize, 0, 0, how::exception};
    auto reporter = run({.threads = 3});
    EXPECT_TRUE(reporter.result.failed);
    EXPECT_TRUE(reporter.result.results.empty());
    EXPECT_EQ(reporter.err, "thread 0 failed: fake trouble\n");
    plan = {};
}

TEST(RunCoordinator, TimerGateRefusesOrWarns) {
    plan = {};
    run_environment env = run_environment::standard();
    env.timer_is_compliant = &never_compliant;
    auto refused = run({.threads = 2}, env);
    EXPECT_FALSE(refused.result.failed);
    EXPECT_TRUE(refused.result.results.empty());
    EXPECT_EQ(refused.err.rfind("Fast Timer is not HWBOT compliant (fast timer source: ", 0), 0u);
    EXPECT_NE(refused.err.find("); aborting\nUse --bypass-timer-check to run regardless"),
              std::string::npos);
    EXPECT_EQ(refused.out.find("allocating fields"), std::string::npos);

    auto bypassed = run({.threads = 1, .bypass = true}, env);
    EXPECT_FALSE(bypassed.result.failed);
    EXPECT_EQ(bypassed.result.results.size(), 1u);
    EXPECT_EQ(
        bypassed.err.rfind("===========\n  warning  \n===========\n"
                           "Fast timer is not compliant with HWBOT rules (fast timer source: ",
                           0),
        0u);
    EXPECT_NE(bypassed.err.find(")\nCheck that this is a detection error in terms of your windows "
                                "version, processor, or timer before submitting\n"),
              std::string::npos);
}

TEST(RunCoordinator, IsaProblemWarnsAndAbortsOnlyWhenStrict) {
    plan = {};
    run_environment env = host_independent();
    env.isa_check = &isa_trouble;
    auto lenient = run({.threads = 1}, env);
    EXPECT_EQ(lenient.err, "===========\n  warning  \n===========\nisa trouble\n");
    EXPECT_EQ(lenient.result.results.size(), 1u);

    auto strict = run({.threads = 1, .strict_isa = true}, env);
    EXPECT_EQ(strict.err,
              "===========\n  warning  \n===========\nisa trouble\n"
              "isa support check failed; aborting\n");
    EXPECT_TRUE(strict.result.results.empty());
    EXPECT_FALSE(strict.result.failed);
    EXPECT_EQ(strict.out.find("running with"), std::string::npos);
}

TEST(RunCoordinator, WorkerThatCannotStartEndsTheRunWithoutHanging) {
    plan = {};
    std::atomic<int> started{0};
    run_environment env = host_independent();
    env.start_thread = [&started](std::function<void()> body) {
        if (started.fetch_add(1) == 1) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return std::thread(std::move(body));
    };
    auto got = run({.threads = 4}, env);
    EXPECT_TRUE(got.result.failed);
    EXPECT_TRUE(got.result.results.empty());
    EXPECT_EQ(got.err.rfind("could not start worker thread 2: ", 0), 0u);

    // Memory running out while a thread is made ends the run the same way.
    env.start_thread = [&started](std::function<void()> body) -> std::thread {
        if (started.fetch_add(1) == 3) {
            throw std::bad_alloc();
        }
        return std::thread(std::move(body));
    };
    started = 0;
    auto short_of_memory = run({.threads = 5}, env);
    EXPECT_TRUE(short_of_memory.result.failed);
    EXPECT_EQ(short_of_memory.err, "could not start worker thread 4: not enough memory\n");
}

/// A console that takes nothing until opened, as a pipe whose reader
/// sleeps; it records what each stream got, in the order it came.
class held_console {
  public:
    class buffer : public std::streambuf {
      public:
        buffer(held_console& console, char tag) : console_(console), tag_(tag) {}

      protected:
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            console_.take(tag_, std::string_view(s, static_cast<std::size_t>(n)));
            return n;
        }
        int overflow(int c) override {
            const char ch = static_cast<char>(c);
            console_.take(tag_, std::string_view(&ch, 1));
            return c;
        }

      private:
        held_console& console_;
        char tag_;
    };

    void open() {
        const std::lock_guard lock(lock_);
        open_ = true;
        opened_.notify_all();
    }
    bool waited_out() const { return waited_out_; }
    /// Everything received, with "[o]" or "[e]" where the stream changes.
    std::string record() const { return record_; }

    buffer out{*this, 'o'};
    buffer err{*this, 'e'};

  private:
    void take(char tag, std::string_view text) {
        std::unique_lock lock(lock_);
        // Should a writer wait for this console, the test would open it only
        // after the deadline.
        if (!opened_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; })) {
            waited_out_ = true;
        }
        if (tag != last_tag_) {
            record_ += tag == 'o' ? "[o]" : "[e]";
            last_tag_ = tag;
        }
        record_ += text;
    }

    std::mutex lock_;
    std::condition_variable opened_;
    bool open_ = false;
    bool waited_out_ = false;
    char last_tag_ = 0;
    std::string record_;
};

TEST(ConsoleWriter, ASlowReaderHoldsUpNoWriterAndMissesNothing) {
    held_console console;
    std::ostream out(&console.out);
    std::ostream err(&console.err);
    std::string expected;
    {
        console_writer writer(out, err);
        ASSERT_TRUE(writer.start());
        expected += "[o]";
        for (int i = 0; i < 3000; ++i) {
            const std::string n = std::to_string(i);
            writer.write(console_writer::stream::out, {"\rbenchmarking... ", n});
            expected += "\rbenchmarking... " + n;
            if (i % 1000 == 999) {
                writer.write(console_writer::stream::err, {"line ", n, "\n"});
                expected += "[e]line " + n + "\n[o]";
            }
        }
        writer.write(console_writer::stream::out, {"\n"});
        expected += "\n";
        // Every text above was handed over while the console took nothing.
        console.open();
        writer.finish();
        // Once finished, texts are written at once.
        writer.write(console_writer::stream::err, {"after\n"});
        expected += "[e]after\n";
    }
    EXPECT_FALSE(console.waited_out());
    EXPECT_EQ(console.record(), expected);
}

TEST(ConsoleWriter, WithoutAThreadTextsAreWrittenAtOnce) {
    std::ostringstream out;
    std::ostringstream err;
    console_writer writer(out, err);
    writer.write(console_writer::stream::out, {"a", "b\n"});
    EXPECT_EQ(out.str(), "ab\n");
    writer.write_now([](std::ostream&, std::ostream& e) { e << "now" << std::endl; });
    EXPECT_EQ(err.str(), "now\n");
}

struct driver_output {
    std::optional<double> score;
    std::string out;
    std::string err;
};

// run_benchmark with the real workloads, streams recorded.
driver_output drive(const bench_config& config, run_environment env = host_independent()) {
    std::ostringstream out;
    std::ostringstream err;
    env.out = &out;
    env.err = &err;
    topology_cache topology;
    const std::optional<double> score = run_benchmark(config, topology, env);
    return {score, out.str(), err.str()};
}

bench_config one_second(std::uint32_t threads, std::uint64_t grid_size) {
    bench_config config;
    config.threads = threads;
    config.duration_s = 0;  // clamped to one second
    config.grid_size = grid_size;
    return config;
}

TEST(RunBenchmark, RealWorkloadsGiveValidScores) {
    for (const char* name : {"standing_wave", "soft_gaussian"}) {
        for (std::uint32_t threads : {1u, 2u}) {
            SCOPED_TRACE(std::string(name) + " x" + std::to_string(threads));
            bench_config config = one_second(threads, 64);
            config.workload_name = name;
            const driver_output got = drive(config);
            EXPECT_TRUE(got.score.has_value()) << got.err;
            EXPECT_GT(got.score.value_or(0), 0.0);
            EXPECT_NE(got.out.find("tavro v1.2.0 " + std::string(name) + "\n"), std::string::npos);
            EXPECT_EQ(got.err, "");
        }
    }
}

TEST(RunBenchmark, RunsTheSystemCannotHoldAreInvalid) {
    const driver_output huge = drive(one_second(1, 8192));
    EXPECT_FALSE(huge.score.has_value());
    EXPECT_EQ(huge.err.rfind("not enough memory for 1 thread at N = 8192: 32.09 TiB needed, ", 0),
              0u)
        << huge.err;
    EXPECT_NE(huge.err.find(" available\n==================\n  invalid result \n"),
              std::string::npos);
    EXPECT_EQ(huge.out.find("allocating fields"), std::string::npos);

    // More threads than any system runs: refused before any table per
    // thread is built (these would take hundreds of gigabytes).
    const driver_output absurd = drive(one_second(4'294'967'295u, 64));
    EXPECT_FALSE(absurd.score.has_value());
    EXPECT_EQ(absurd.err.rfind("cannot run 4294967295 threads: this system runs at most ", 0), 0u)
        << absurd.err;
    EXPECT_NE(absurd.err.find("; aborting\n==================\n  invalid result \n"),
              std::string::npos);

    // At the limit the run goes on as before; one beyond it is refused.
    plan = {};
    run_environment env = host_independent();
    env.thread_limit = [] { return std::uint64_t{2}; };
    auto at_limit = run({.threads = 2}, env);
    EXPECT_FALSE(at_limit.result.failed);
    EXPECT_EQ(at_limit.result.results.size(), 2u);
    auto beyond = run({.threads = 3}, env);
    EXPECT_TRUE(beyond.result.failed);
    EXPECT_EQ(beyond.err, "cannot run 3 threads: this system runs at most 2; aborting\n");
    EXPECT_NE(beyond.out.find("running with 3 threads (os)"), std::string::npos);
}

std::atomic<int> budget_reads{0};
std::uint64_t one_grid_of_64() {
    ++budget_reads;
    return grid_bytes_per_thread(64) + 2 * thread_memory_allowance + process_memory_reserve +
           page_table_bytes(grid_bytes_per_thread(64), base_page_size());
}

TEST(RunBenchmark, MemoryBudgetIsReadOnceBeforeTheWorkersStart) {
    // Room for one thread's grids and what a run of two needs besides: the
    // run of two is refused before any worker starts, with one message.
    run_environment env = host_independent();
    env.memory_budget = &one_grid_of_64;
    const driver_output two = drive(one_second(2, 64), env);
    EXPECT_FALSE(two.score.has_value());
    EXPECT_EQ(budget_reads, 1);
    EXPECT_EQ(two.err,
              "not enough memory for 2 threads at N = 64: 39.68 MiB needed, 22.09 MiB available\n"
              "==================\n  invalid result \n==================\n");
    EXPECT_EQ(two.out.find("allocating fields"), std::string::npos);
    EXPECT_EQ(process_grid_ledger().live_bytes(), 0u);

    const driver_output one = drive(one_second(1, 64), env);
    EXPECT_TRUE(one.score.has_value()) << one.err;
    EXPECT_EQ(budget_reads, 2);
}

std::uint64_t about_22_gib() {
    return 24'051'816'857;
}

TEST(RunCoordinator, RunWhoseGridsDoNotAllFitStartsNoWorker) {
    plan = {};
    workloads_made = 0;
    run_environment env = host_independent();
    env.memory_budget = &about_22_gib;
    auto big = run({.threads = 200, .grid_size = 192}, env);
    EXPECT_TRUE(big.result.failed);
    EXPECT_TRUE(big.result.results.empty());
    EXPECT_EQ(big.err,
              "not enough memory for 200 threads at N = 192: 87.26 GiB needed, 22.40 GiB "
              "available\n");
    EXPECT_EQ(big.out.find("allocating fields"), std::string::npos);
    EXPECT_EQ(workloads_made, 0);

    // Under ulimit -v the threads' stacks and arenas count as well.
    env.address_space = [] {
        constexpr std::uint64_t mib = 1024 * 1024;
        return address_space_facts{192 * mib, 8 * mib, 64 * mib, 16};
    };
    auto limited = run({.threads = 4, .grid_size = 192}, env);
    EXPECT_TRUE(limited.result.failed);
    EXPECT_EQ(limited.err.rfind("not enough memory for 4 threads at N = 192: ", 0), 0u);
    EXPECT_NE(limited.err.find(" needed, 192.00 MiB available\n"), std::string::npos);
    env.address_space = &process_address_space;

    // As many threads as fit run; unknown memory (0) limits nothing.
    auto fitting = run({.threads = 4, .grid_size = 192}, env);
    EXPECT_FALSE(fitting.result.failed);
    env.memory_budget = [] { return std::uint64_t{0}; };
    EXPECT_FALSE(run({.threads = 2, .grid_size = 192}, env).result.failed);
}

TEST(RunBenchmark, DriverResolvesThreadsAndClampsDuration) {
    EXPECT_EQ(clamp_duration(0), 1u);
    EXPECT_EQ(clamp_duration(1001), 1000u);
    EXPECT_EQ(clamp_duration(30), 30u);
    topology_cache topology;
    bench_config config;
    config.threads = 3;
    config.threading = "NUMA";
    const thread_manager manager = make_thread_manager(config, topology);
    EXPECT_EQ(manager.thread_count, 3u);
    EXPECT_TRUE(manager.slots.empty());
    config.threads = 0;
    config.threading = "numa";
    const thread_manager automatic = make_thread_manager(config, topology);
    EXPECT_GE(automatic.thread_count, 1u);
    EXPECT_FALSE(automatic.slots.empty());
}

}  // namespace
}  // namespace tavro
