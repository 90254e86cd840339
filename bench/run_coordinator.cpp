#include "bench/run_coordinator.h"

#include <atomic>
#include <exception>
#include <iostream>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <stop_token>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "bench/bench_config.h"
#include "bench/console_writer.h"
#include "bench/phase_barrier.h"
#include "bench/progress_line.h"
#include "bench/report.h"
#include "console/text_format.h"
#include "machine/cpu/cpu_identity.h"
#include "machine/cpu/isa.h"
#include "machine/memory/memory.h"
#include "machine/memory/system_limits.h"
#include "timing/compliance.h"
#include "timing/cpu_time.h"

namespace tavro {

namespace {

constexpr double cell_size = 0.01;

/// What every worker of a run shares; owned by execute_run.
struct run_shared {
    const run_request& request;
    const run_environment& env;
    run_result& result;
    /// Every console write of the workers goes through it, in order.
    console_writer console;
    std::mutex results_lock;
    /// Each cause of a thread's failure that was told, with the count of
    /// further threads that failed for it and were not told one by one.
    std::vector<std::pair<std::string, std::uint64_t>> causes;
    std::mutex causes_lock;
    phase_barrier barrier;
    std::stop_source stop;
    progress_table progress;
    timer_info fast;
    timer_info coarse;

    run_shared(const run_request& r, const run_environment& e, run_result& out, std::uint32_t p,
               timer_info fast_info, timer_info coarse_info)
        : request(r),
          env(e),
          result(out),
          console(*e.out, *e.err),
          barrier(p, [this] { return stop.stop_requested(); }),
          progress(p),
          fast(fast_info),
          coarse(coarse_info) {}

    /// Whether `cause` is new to the run; when it is not, counts one more
    /// thread that failed for it.
    bool first_of_cause(std::string_view cause) {
        const std::lock_guard lock(causes_lock);
        for (auto& [told, more] : causes) {
            if (told == cause) {
                ++more;
                return false;
            }
        }
        causes.emplace_back(cause, 0);
        return true;
    }

    /// One line per cause that more than one thread failed for, after the
    /// first thread's own lines: "... and 63 more threads: CAUSE".
    void tell_repeated_causes() {
        for (const auto& [cause, more] : causes) {
            if (more != 0) {
                console.write(
                    console_writer::stream::err,
                    {fmt::format("... and {} more thread{}: {}", more, more > 1 ? "s" : "", cause),
                     "\n"});
            }
        }
    }
};

class worker {
  public:
    worker(run_shared& shared, std::uint32_t index)
        : s_(shared), index_(index), is_reporter_(index == 0), token_(shared.stop.get_token()) {}

    void run();

  private:
    bool prepare();
    bool timed_loop();
    void finish();

    void say(std::string_view line) { s_.console.write(console_writer::stream::out, {line, "\n"}); }
    /// Stops every worker; prints the lines on the error stream unless an
    /// earlier thread failed for the same `cause`, which is then counted.
    void fail_for(std::string_view cause, std::string_view first,
                  std::optional<std::string_view> second = std::nullopt) {
        if (s_.first_of_cause(cause)) {
            fail(first, second);
        } else {
            s_.stop.request_stop();
        }
    }
    /// Prints the lines on the error stream and stops every worker.
    void fail(std::string_view first, std::optional<std::string_view> second = std::nullopt) {
        if (second) {
            s_.console.write(console_writer::stream::err, {first, "\n", *second, "\n"});
        } else {
            s_.console.write(console_writer::stream::err, {first, "\n"});
        }
        s_.stop.request_stop();
    }
    std::int64_t coarse_now() const { return static_cast<std::int64_t>(coarse_timer::now()); }

    run_shared& s_;
    std::uint32_t index_;
    bool is_reporter_;
    std::stop_token token_;
    std::unique_ptr<workload> work_;
    std::uint64_t iterations_ = 0;
    std::int64_t coarse_start_ = 0;
    std::int64_t coarse_end_ = 0;
    std::int64_t fast_start_ = 0;
    std::int64_t fast_end_ = 0;
    std::int64_t cpu_us_ = -1;
    std::int64_t wait_us_ = -1;
};

void worker::run() {
    place_current_thread(s_.request.threads, index_);
    if (prepare() && timed_loop()) {
        finish();
    }
    work_.reset();
}

// Creation, allocation and initialisation, in lockstep with the other
// workers: every worker arrives at both barrier phases even when it failed,
// and the barrier tells all of them alike whether a stop was requested by the
// time the phase ended, so that they leave together.
bool worker::prepare() {
    if (is_reporter_) {
        say(s_.request.large_pages ? "allocating fields.... (large pages)"
                                   : "allocating fields.... ");
    }
    // No worker allocates before that line is handed over, so that no
    // failure is printed ahead of it.
    if (s_.barrier.arrive_and_wait()) {
        return false;
    }
    const std::int64_t init_start = fast_timer::now();
    work_ = s_.env.make_workload(s_.request.workload_name, index_, s_.request.isa_name);
    if (!work_) {
        const std::string cause =
            fmt::format("could not initalize workload {}", s_.request.workload_name);
        fail_for(cause, fmt::format("{} in thread {}", cause, index_));
    } else if (error_text e = work_->allocate_fields(
                   grid_request{s_.request.large_pages, s_.request.grid_size, cell_size})) {
        fail_for(*e, fmt::format("field allocation failed in thread {}", index_), *e);
    }
    if (s_.barrier.arrive_and_wait()) {
        return false;  // some worker failed before this phase ended
    }

    if (is_reporter_) {
        say("initalizing fields...");
    }
    if (error_text e = work_->initialize()) {
        fail_for(*e, fmt::format("failed to initalize field in thread {}", index_), *e);
    }
    if (s_.barrier.arrive_and_wait()) {
        return false;  // some worker failed before this phase ended
    }
    const std::int64_t init_end = fast_timer::now();
    if (is_reporter_) {
        say(fmt::format("initialization took {}ms", elapsed_ms(s_.fast, init_start, init_end)));
    }
    s_.barrier.arrive_and_wait();
    return true;
}

bool worker::timed_loop() {
    if (is_reporter_) {
        say("starting bench..");
    }
    const std::uint32_t duration_s = s_.request.duration_s;
    const std::int64_t duration_ms = std::int64_t{duration_s} * 1000;
    const std::uint64_t work_per_step = work_->work_per_step();
    progress_slot& slot = s_.progress[index_];
    std::int64_t loop_ms = 0;

    coarse_start_ = coarse_now();
    fast_start_ = fast_timer::now();
    const thread_times times_start = read_thread_times();
    while (true) {
        if (is_reporter_) {
            print_progress(loop_ms / 1000, duration_s, s_.progress, s_.console);
        }
        error_text e = work_->before_step(iterations_);
        if (!e)
            e = work_->step();
        if (!e)
            e = work_->check_step(iterations_);
        if (e) {
            fail(*e);
            return false;
        }
        if (token_.stop_requested()) {
            return false;
        }
        ++iterations_;
        loop_ms = elapsed_ms(s_.coarse, coarse_start_, coarse_now());
        if (loop_ms > 0) {
            slot.rate_mgups.store(static_cast<double>(work_per_step * iterations_) /
                                      (static_cast<double>(loop_ms) * 1000.0),
                                  std::memory_order_relaxed);
        }
        slot.iterations.store(iterations_, std::memory_order_relaxed);
        if (loop_ms >= duration_ms) {
            break;
        }
    }
    fast_end_ = fast_timer::now();
    coarse_end_ = coarse_now();
    const thread_times times_end = read_thread_times();
    const auto span = [](std::int64_t start, std::int64_t end) -> std::int64_t {
        return start >= 0 && end >= start ? end - start : -1;
    };
    cpu_us_ = span(times_start.running_us, times_end.running_us);
    wait_us_ = span(times_start.waiting_us, times_end.waiting_us);
    return true;
}

void worker::finish() {
    if (is_reporter_) {
        print_progress(elapsed_seconds(s_.fast, fast_start_, fast_end_), s_.request.duration_s,
                       s_.progress, s_.console, true);
        say("validating result..");
    }
    if (error_text e = work_->validate(iterations_)) {
        fail(*e);
        return;
    }
    const std::uint64_t cell_updates = work_->work_per_step() * iterations_;
    std::lock_guard lock(s_.results_lock);
    s_.result.results.push_back({index_, elapsed_ms(s_.coarse, coarse_start_, coarse_end_),
                                 elapsed_us(s_.fast, fast_start_, fast_end_), iterations_,
                                 cell_updates, cpu_us_, wait_us_});
}

// Runs worker `index` so that nothing it throws leaves its thread: a worker
// that runs out of memory (or meets any other exception) says so, stops the
// others and leaves the barrier, so that no one waits for it. Its workload is
// gone by then, destroyed with the worker. The messages are written piece by
// piece, as building a text could itself fail for want of memory.
void run_worker_guarded(run_shared& s, std::uint32_t index) noexcept {
    const auto abandon = [&s, index](std::string_view what, const char* detail) {
        s.stop.request_stop();
        bool first = true;
        if (detail == nullptr) {
            try {
                first = s.first_of_cause("not enough memory");
            } catch (const std::bad_alloc&) {
                // not even room to count it: said on its own line
            }
        }
        s.console.write_now([&](std::ostream&, std::ostream& err) {
            if (!first) {
                return;
            }
            if (detail == nullptr) {
                err << what << index << std::endl;
            } else {
                err << "thread " << index << what << detail << std::endl;
            }
        });
        s.barrier.arrive_and_drop();
    };
    try {
        worker(s, index).run();
    } catch (const std::bad_alloc&) {
        abandon("not enough memory in thread ", nullptr);
    } catch (const std::exception& e) {
        abandon(" failed: ", e.what());
    } catch (...) {
        abandon(" failed: ", "unknown error");
    }
}

void print_header(const run_request& request, std::uint32_t p, std::ostream& out) {
    const std::uint64_t per_thread = grid_bytes_per_thread(request.grid_size);
    const std::uint64_t n = request.grid_size;
    out << fmt::format("running with {} thread{} ({})", p, p > 1 ? "s" : "", request.threading_name)
        << std::endl;
    out << fmt::format("{} x {} x {} grid", n, n, n) << std::endl;
    out << format_bytes(per_thread) << " per thread" << std::endl;
    out << format_bytes(per_thread * p) << " total" << std::endl;
}

std::uint64_t display_hz(const timer_info& info) {
    const std::int64_t hz = info.underlying_hz != 0 ? info.underlying_hz : info.report_hz;
    return hz > 0 ? static_cast<std::uint64_t>(hz) : 0;
}

/// The clock lines and checks before any worker starts; false refuses the run.
bool clocks_allow_run(const run_request& request, const run_environment& env,
                      const timer_info& fast, const timer_info& coarse) {
    std::ostream& out = *env.out;
    std::ostream& err = *env.err;
    const std::string_view source = timer_source_name(fast.source);
    out << fmt::format("Fast Timer Frequency: {} ({})", format_si(display_hz(fast), "Hz"), source)
        << std::endl;
    out << "Coarse Timer Frequency: " << format_si(display_hz(coarse), "Hz") << std::endl;

    if (!env.timer_is_compliant(fast)) {
        if (!request.bypass_timer_check) {
            err << "Fast Timer is not HWBOT compliant (fast timer source: " << source
                << "); aborting" << std::endl;
            err << "Use --bypass-timer-check to run regardless if you are sure that this is a "
                   "detection error in terms of your windows version, processor, or timer"
                << std::endl;
            return false;
        }
        print_warning_box(err);
        err << "Fast timer is not compliant with HWBOT rules (fast timer source: " << source << ")"
            << std::endl;
        err << "Check that this is a detection error in terms of your windows version, "
               "processor, or timer before submitting"
            << std::endl;
    }

    const std::int64_t seconds = std::int64_t{request.duration_s} + 2;
    if (timer_will_overflow(fast, fast_timer::now(), seconds)) {
        err << "fast timer will overflow during the run; aborting" << std::endl;
        return false;
    }
    if (timer_will_overflow(coarse, static_cast<std::int64_t>(coarse_timer::now()), seconds)) {
        err << "coarse timer will overflow during the run; aborting" << std::endl;
        return false;
    }
    return true;
}

/// The run's whole need of memory held against what there is.
struct memory_weighing {
    bool fits = true;
    std::uint64_t needed = 0;
    std::uint64_t available = 0;
    /// What the ledger may admit of grids on ordinary pages; 0 for no limit.
    std::uint64_t grid_budget = 0;
};

/// Threads that earlier runs of this process started: each of them left an
/// allocator arena, mapped already, which later runs reuse.
std::atomic<std::uint64_t> threads_started_before{0};

memory_weighing weigh_physical_memory(const run_request& request, const run_environment& env,
                                      std::uint32_t p);

// All the grids fit or none is built: the physical memory first, then,
// under a limit on the address space (ulimit -v), every thread's grids,
// stack and allocator arena against what the limit leaves.
memory_weighing weigh_memory(const run_request& request, const run_environment& env,
                             std::uint32_t p) {
    memory_weighing w = weigh_physical_memory(request, env, p);
    if (!w.fits || env.address_space == nullptr) {
        return w;
    }
    const address_space_facts facts = env.address_space();
    const std::uint64_t page = request.large_pages && env.large_page_size != nullptr
                                   ? env.large_page_size()
                                   : base_page_size();
    const std::uint64_t array_bytes = grid_bytes_per_thread(request.grid_size) / 2;
    const std::uint64_t array = large_page_request_size(static_cast<std::size_t>(array_bytes),
                                                        static_cast<std::size_t>(page));
    if (!facts.left || array == 0) {
        return w;
    }
    // P new threads: workers 1 to P - 1 (worker 0 is the calling thread) and
    // the console writer.
    const std::uint64_t need =
        address_space_need(p, 2 * array, facts, threads_started_before.load());
    if (need > *facts.left) {
        return {false, need, *facts.left, 0};
    }
    return w;
}

// Every thread's two arrays in whole pages, and on ordinary pages what the
// run needs besides them, against the memory they come from. Unknown
// memory (0) limits nothing; an empty large-page pool fits no grid.
memory_weighing weigh_physical_memory(const run_request& request, const run_environment& env,
                                      std::uint32_t p) {
    memory_weighing w;
    const std::uint64_t array_bytes = grid_bytes_per_thread(request.grid_size) / 2;
    if (array_bytes == 0) {
        return w;  // the byte count wrapped: each array's own allocation refuses it
    }
    const auto whole_pages = [array_bytes](std::uint64_t page) -> std::uint64_t {
        const std::uint64_t rounded = large_page_request_size(static_cast<std::size_t>(array_bytes),
                                                              static_cast<std::size_t>(page));
        return rounded == 0 ? 0 : 2 * rounded;
    };
    if (request.large_pages) {
        const std::size_t page = env.large_page_size != nullptr ? env.large_page_size() : 0;
        if (page == 0 || env.large_page_budget == nullptr) {
            return w;  // no large pages: every request fails on its own
        }
        const std::uint64_t grid = whole_pages(page);
        w.available = env.large_page_budget();
        if (grid == 0 || __builtin_mul_overflow(grid, std::uint64_t{p}, &w.needed)) {
            w.needed = std::numeric_limits<std::uint64_t>::max();
        }
        w.fits = w.needed <= w.available;
        return w;
    }
    w.available = env.memory_budget != nullptr ? env.memory_budget() : 0;
    if (w.available == 0) {
        return w;
    }
    const std::uint64_t page = base_page_size();
    const std::uint64_t grid = whole_pages(page);
    w.needed =
        grid == 0 ? std::numeric_limits<std::uint64_t>::max() : run_memory_need(p, grid, page);
    w.fits = w.needed <= w.available;
    if (w.fits) {
        // What is kept besides the grids stays out of the ledger's reach.
        w.grid_budget = w.available - (w.needed - grid * p);
    }
    return w;
}

}  // namespace

run_environment run_environment::standard() {
    return run_environment{
        [](std::string_view name, std::uint32_t index, std::string_view isa) {
            return tavro::make_workload(name, index, isa);
        },
        [](std::function<void()> body) { return std::thread(std::move(body)); },
        &fast_timer_is_compliant,
        &isa_support_check,
        &system_thread_limit,
        &grid_memory_budget,
        &grid_memory_budget,
        &available_large_page_memory,
        &enable_large_pages,
        &process_address_space,
        &std::cout,
        &std::cerr,
    };
}

run_result execute_run(const run_request& request, const run_environment& env) {
    const std::uint32_t p = request.threads.thread_count;
    run_result result;
    result.thread_count = p;
    result.usable_cpus = request.usable_cpus;
    result.workload_name = request.workload_name;
    result.isa_name = request.isa_name;

    *env.out << read_cpu_brand() << std::endl;
    *env.out << cpu_feature_list() << std::endl;

    if (error_text problem = env.isa_check(request.isa_name)) {
        *env.err << std::flush;
        print_warning_box(*env.err);
        *env.err << *problem << std::flush;
        if (request.strict_isa) {
            *env.err << "isa support check failed; aborting" << std::endl;
            return result;
        }
    }

    print_header(request, p, *env.out);
    if (p == 0) {
        return result;
    }
    // A count the system cannot run would otherwise first build its
    // per-thread tables, gigabytes for an absurd count, and then fail.
    if (const std::uint64_t limit = env.thread_limit != nullptr ? env.thread_limit() : 0;
        limit != 0 && p > limit) {
        *env.err << fmt::format("cannot run {} threads: this system runs at most {}; aborting", p,
                                limit)
                 << std::endl;
        result.failed = true;
        return result;
    }
    // The budget is read once, here, before anything is built for the
    // threads: workers never read the system, and the grids they claim are
    // counted against what was free before any of them existed.
    memory_weighing memory;
    try {
        memory = weigh_memory(request, env, p);
    } catch (const std::bad_alloc&) {
        *env.err << "not enough memory to run " << p << " threads; aborting" << std::endl;
        result.failed = true;
        return result;
    }
    if (!memory.fits) {
        *env.err << fmt::format(
                        "not enough memory for {} thread{} at N = {}: {} needed, {} available", p,
                        p > 1 ? "s" : "", request.grid_size, format_bytes(memory.needed),
                        format_bytes(memory.available))
                 << std::endl;
        result.failed = true;
        return result;
    }
    // Everything a run keeps per thread is set up before the first worker
    // starts, so that a thread count too large for memory ends the run here
    // instead of ending the program.
    std::vector<std::thread> threads;
    std::unique_ptr<run_shared> shared_owner;
    const timer_info fast = fast_timer::info();
    const timer_info coarse = coarse_timer::info();
    try {
        result.results.reserve(p);
        threads.reserve(p - 1);
        shared_owner = std::make_unique<run_shared>(request, env, result, p, fast, coarse);
    } catch (const std::bad_alloc&) {
        *env.err << "not enough memory to run " << p << " threads; aborting" << std::endl;
        result.failed = true;
        return result;
    }
    if (!clocks_allow_run(request, env, fast, coarse)) {
        return result;
    }

    grid_memory_ledger& ledger = process_grid_ledger();
    ledger.set_budget(memory.grid_budget);
    // Where the budget limits the grids, it is also watched while they are
    // filled: another run in the same memory group can take what this one
    // was weighed against.
    ledger.set_watch(memory.grid_budget != 0 ? env.memory_watch : nullptr);

    run_shared& shared = *shared_owner;
    bool all_started = true;
    // Said while the exception that gives the reason is still alive.
    const auto cannot_start = [&](std::uint32_t i, const char* reason) {
        all_started = false;
        shared.stop.request_stop();
        shared.console.write_now([&](std::ostream&, std::ostream& err) {
            err << "could not start worker thread " << i << ": " << reason << std::endl;
        });
        // The workers that did start are let go at the first barrier phase:
        // it no longer waits for this one, the ones after it, or worker 0,
        // which is not run.
        for (std::uint32_t missing = i; missing < p; ++missing) {
            shared.barrier.arrive_and_drop();
        }
        shared.barrier.arrive_and_drop();
    };
    for (std::uint32_t i = 1; i < p && all_started; ++i) {
        try {
            threads.push_back(env.start_thread([&shared, i] { run_worker_guarded(shared, i); }));
        } catch (const std::system_error& e) {
            cannot_start(i, e.what());
        } catch (const std::bad_alloc&) {
            cannot_start(i, "not enough memory");
        }
    }
    if (all_started) {
        // From here until the workers are joined, the console is written by
        // a thread of its own, so that no worker waits for the reader of the
        // output in its timed loop, which none can begin before worker 0
        // passes the barrier. It starts after the workers so that a run at
        // the system's thread limit still gets all of them; without it
        // (refused too) each text is written at once, as before.
        shared.console.start();
        run_worker_guarded(shared, 0);
    }
    for (std::thread& t : threads) {
        t.join();
    }
    if (threads.size() + 1 > threads_started_before.load()) {
        threads_started_before.store(threads.size() + 1);
    }
    try {
        shared.tell_repeated_causes();
    } catch (const std::bad_alloc&) {
        // the first thread of each cause has said it; the count is lost
    }
    // The last line is out before the caller prints the per-thread table.
    shared.console.finish();
    ledger.set_budget(0);
    ledger.set_watch(nullptr);
    result.failed = shared.stop.stop_requested();
    return result;
}

}  // namespace tavro
