// Performance program for the solver: the step rate of the standing-wave
// workload, the cost of each workload's check_step and initialize, and the
// machine's in-place stream bandwidth measured in the same run, from which
// it prints the step's ratio to its memory roofline. The kernels are the
// plain scalar loops on every machine, so the ratio characterises the
// machine: how close one scalar loop per core comes to its memory limit. It
// is not a target to tune the kernels towards. Every worker owns its grid
// and is pinned like a benchmark run. Not run by the tests.
//
// usage: tavro_step_perf [--wall] [N ...]      (default: 64 192 384)
//
// Repetitions are timed by the processor time of the workers (the longest
// of them), so that time slices given to other programs on a shared machine
// do not count; --wall times them by the wall clock instead. Either way each
// figure is the best of its repetitions.
//
// Each sweep of a step streams the read-only field in and the updated field
// in and out, 96 bytes per cell, over (N + 2)/N times the credited cells;
// the stream a[i] = a[i] + s * b[i] has the same read/read-modify-write
// pattern, so its bandwidth bounds the step at
// bandwidth / (96 x (N + 2) / N) credited updates per second.
#include <fmt/format.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "machine/topology/placement.h"
#include "machine/topology/topology.h"
#include "solver/workload.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Seconds of processor time the calling thread has used.
double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Whether repetitions are timed by the wall clock rather than by the
// workers' processor time (see main).
bool time_by_wall_clock = false;

// The calling thread's processor time, or the wall clock with --wall, in
// seconds: for timing parts of a repetition.
double part_clock() {
    if (time_by_wall_clock) {
        return std::chrono::duration<double>(clock_type::now().time_since_epoch()).count();
    }
    return thread_cpu_seconds();
}

// Per-thread start and end of one synchronised repetition, seconds from a
// common origin, and the processor time the thread used in it.
struct span {
    double start = 0.0;
    double end = 0.0;
    double cpu = 0.0;
};

// Runs `threads` pinned workers. Each calls setup(t), then for every
// repetition r waits for the others and runs body(t, r); returns, per
// repetition, the wall time from the first start to the last end, or with
// processor time the longest any worker used.
template <typename Setup, typename Body>
std::vector<double> run_synchronised(const tavro::thread_manager& manager, std::uint32_t threads,
                                     int repetitions, Setup setup, Body body) {
    std::vector<std::vector<span>> spans(threads, std::vector<span>(repetitions));
    std::barrier sync(static_cast<std::ptrdiff_t>(threads));
    const clock_type::time_point origin = clock_type::now();
    std::vector<std::thread> workers;
    for (std::uint32_t t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            tavro::place_current_thread(manager, t);
            setup(t);
            for (int r = 0; r < repetitions; ++r) {
                sync.arrive_and_wait();
                span& record = spans[t][static_cast<std::size_t>(r)];
                const double cpu_start = thread_cpu_seconds();
                record.start = seconds_since(origin);
                body(t, r);
                record.end = seconds_since(origin);
                record.cpu = thread_cpu_seconds() - cpu_start;
            }
            sync.arrive_and_wait();
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    std::vector<double> walls;
    for (int r = 0; r < repetitions; ++r) {
        double first = 1e300;
        double last = 0.0;
        double cpu = 0.0;
        for (std::uint32_t t = 0; t < threads; ++t) {
            first = std::min(first, spans[t][static_cast<std::size_t>(r)].start);
            last = std::max(last, spans[t][static_cast<std::size_t>(r)].end);
            cpu = std::max(cpu, spans[t][static_cast<std::size_t>(r)].cpu);
        }
        walls.push_back(time_by_wall_clock ? last - first : cpu);
    }
    return walls;
}

double best(const std::vector<double>& walls) {
    return *std::min_element(walls.begin(), walls.end());
}

// The in-place stream a[i] = a[i] + s * b[i] over one worker's arrays of
// 256 MiB each, far beyond any last-level cache: 24 bytes per element (a and
// b read, a written).
class stream_arrays {
  public:
    static constexpr std::size_t elements = std::size_t{32} << 20;
    static constexpr double bytes_per_pass = 24.0 * static_cast<double>(elements);

    stream_arrays()
        : a_(std::make_unique<double[]>(elements)), b_(std::make_unique<double[]>(elements)) {
        for (std::size_t n = 0; n < elements; ++n) {
            a_[n] = 1.0;
            b_[n] = static_cast<double>(n & 255u) * 1e-3;
        }
    }

    void pass() {
        double* const pa = a_.get();
        const double* const pb = b_.get();
        const double s = 1e-9;
        for (std::size_t n = 0; n < elements; ++n) {
            pa[n] = pa[n] + s * pb[n];
        }
        // Keeps the stores from being dropped as unobserved.
        asm volatile("" : : "r"(pa) : "memory");
    }

  private:
    std::unique_ptr<double[]> a_;
    std::unique_ptr<double[]> b_;
};

struct config_result {
    double bandwidth = 0.0;
    double step_mgups = 0.0;
    double roofline_mgups = 0.0;
    double step_seconds = 0.0;
    double soft_step_seconds = 0.0;
    double init_standing_s = 0.0;
    double init_soft_s = 0.0;
    double check_standing_s = 0.0;
    double check_soft_s = 0.0;
    bool failed = false;
};

void fail_if(bool bad, std::atomic<bool>& failed) {
    if (bad) {
        failed = true;
    }
}

// Step rate and stream bandwidth are measured alternately, pass for pass, so
// that both see the same state of a shared machine; each is the best of its
// repetitions.
config_result measure(const tavro::thread_manager& manager, std::uint32_t threads,
                      std::uint64_t n) {
    config_result out;
    const double cube = static_cast<double>(n) * static_cast<double>(n) * static_cast<double>(n);
    // About 0.4 s of stepping per repetition at the roofline of one core.
    const auto steps = static_cast<std::uint64_t>(std::max(2.0, 75e6 / cube));
    const int repetitions = n >= 384 ? 3 : 5;
    static const bool small_pages = false;
    std::atomic<bool> failed{false};

    std::vector<std::unique_ptr<tavro::workload>> work(threads);
    std::vector<std::unique_ptr<stream_arrays>> streams(threads);
    std::vector<double> init_times(threads);
    std::vector<double> check_times(threads);
    const auto setup_standing = [&](std::uint32_t t) {
        streams[t] = std::make_unique<stream_arrays>();
        work[t] = tavro::make_workload("standing_wave", t);
        fail_if(work[t]->allocate_fields(tavro::grid_request{small_pages, n, 0.01}).has_value(),
                failed);
        const clock_type::time_point start = clock_type::now();
        fail_if(!failed && work[t]->initialize().has_value(), failed);
        init_times[t] = seconds_since(start);
        fail_if(!failed && work[t]->step().has_value(), failed);
    };
    // Per repetition: a stream pass that clears the cache of the step's
    // lines, a timed stream pass, then the timed steps.
    const auto body_step = [&](std::uint32_t t, int r) {
        if (r % 3 != 2) {
            streams[t]->pass();
            return;
        }
        for (std::uint64_t s = 0; s < steps && !failed; ++s) {
            fail_if(work[t]->step().has_value(), failed);
        }
    };
    const std::vector<double> walls =
        run_synchronised(manager, threads, 3 * repetitions, setup_standing, body_step);
    std::vector<double> stream_walls;
    std::vector<double> step_walls;
    for (std::size_t r = 0; r < walls.size(); ++r) {
        if (r % 3 == 1) {
            stream_walls.push_back(walls[r]);
        } else if (r % 3 == 2) {
            step_walls.push_back(walls[r]);
        }
    }
    streams.clear();
    out.bandwidth =
        stream_arrays::bytes_per_pass * static_cast<double>(threads) / best(stream_walls);
    const double bandwidth = out.bandwidth;
    out.step_seconds = best(step_walls) / static_cast<double>(steps);
    out.step_mgups = 2.0 * cube * static_cast<double>(threads) / out.step_seconds * 1e-6;
    out.roofline_mgups =
        bandwidth / (96.0 * static_cast<double>(n + 2) / static_cast<double>(n)) * 1e-6;
    out.init_standing_s = *std::max_element(init_times.begin(), init_times.end());

    // The standing wave's check samples a few nodes: time many at once.
    constexpr int sample_checks = 2000;
    const std::vector<double> check_walls = run_synchronised(
        manager, threads, 5, [](std::uint32_t) {},
        [&](std::uint32_t t, int) {
            for (int c = 0; c < sample_checks; ++c) {
                fail_if(work[t]->check_step(0).has_value(), failed);
            }
        });
    out.check_standing_s = best(check_walls) / sample_checks;
    for (auto& w : work) {
        w.reset();
    }

    // The soft Gaussian's check is a whole energy pass; advance the pulse
    // into the grid first so the pass sums real values.
    constexpr std::uint64_t warm_steps = 30;
    const auto setup_soft = [&](std::uint32_t t) {
        work[t] = tavro::make_workload("soft_gaussian", t);
        fail_if(work[t]->allocate_fields(tavro::grid_request{small_pages, n, 0.01}).has_value(),
                failed);
        const clock_type::time_point start = clock_type::now();
        fail_if(!failed && work[t]->initialize().has_value(), failed);
        init_times[t] = seconds_since(start);
        for (std::uint64_t s = 0; s < warm_steps && !failed; ++s) {
            fail_if(work[t]->before_step(s).has_value() || work[t]->step().has_value() ||
                        work[t]->check_step(s).has_value(),
                    failed);
        }
    };
    // Each iteration runs a step and then a check, as the timed loop of a
    // run does, so the check meets the cache as a step leaves it; the two are
    // timed apart and the check's share is taken against the steps of the
    // same repetition. The check's verdict is ignored here: without
    // before_step the booked energy no longer matches.
    std::vector<std::vector<double>> soft_step_time(threads, std::vector<double>(repetitions));
    std::vector<std::vector<double>> soft_check_time(threads, std::vector<double>(repetitions));
    run_synchronised(manager, threads, repetitions, setup_soft, [&](std::uint32_t t, int r) {
        const auto rep = static_cast<std::size_t>(r);
        for (std::uint64_t s = 0; s < steps && !failed; ++s) {
            const double start = part_clock();
            fail_if(work[t]->step().has_value(), failed);
            const double stepped = part_clock();
            const tavro::error_text verdict = work[t]->check_step(warm_steps);
            asm volatile("" : : "r"(&verdict) : "memory");
            soft_step_time[t][rep] += stepped - start;
            soft_check_time[t][rep] += part_clock() - stepped;
        }
    });
    // The slowest worker of each repetition, then the best repetition.
    double soft_step = 1e300;
    double soft_check = 1e300;
    for (std::size_t rep = 0; rep < static_cast<std::size_t>(repetitions); ++rep) {
        double step_worst = 0.0;
        double check_worst = 0.0;
        for (std::uint32_t t = 0; t < threads; ++t) {
            step_worst = std::max(step_worst, soft_step_time[t][rep]);
            check_worst = std::max(check_worst, soft_check_time[t][rep]);
        }
        soft_step = std::min(soft_step, step_worst);
        soft_check = std::min(soft_check, check_worst);
    }
    out.soft_step_seconds = soft_step / static_cast<double>(steps);
    out.check_soft_s = soft_check / static_cast<double>(steps);
    out.init_soft_s = *std::max_element(init_times.begin(), init_times.end());
    out.failed = failed;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint64_t> sizes;
    for (int a = 1; a < argc; ++a) {
        if (std::string(argv[a]) == "--wall") {
            time_by_wall_clock = true;
            continue;
        }
        char* end = nullptr;
        const unsigned long long v = std::strtoull(argv[a], &end, 10);
        if (end == argv[a] || *end != '\0' || v < 32 || v > 2048) {
            fmt::print(stderr, "usage: tavro_step_perf [--wall] [N ...]  (32 <= N <= 2048)\n");
            return 2;
        }
        sizes.push_back(v);
    }
    if (sizes.empty()) {
        sizes = {64, 192, 384};
    }

    const tavro::cpu_topology topology = tavro::detect_topology();
    const std::uint32_t cores = std::max<std::uint32_t>(1, tavro::core_count(topology));
    std::vector<std::uint32_t> thread_counts{1};
    if (cores > 1) {
        thread_counts.push_back(cores);
    }

    for (const std::uint32_t threads : thread_counts) {
        const tavro::thread_manager manager{threads, tavro::build_numa_slots(topology)};
        fmt::print("threads {} ({} time):\n", threads,
                   time_by_wall_clock ? "wall-clock" : "processor");
        for (const std::uint64_t n : sizes) {
            const config_result r = measure(manager, threads, n);
            if (r.failed) {
                fmt::print("  N = {}: a workload failed (memory short?)\n", n);
                continue;
            }
            const double step_us = r.step_seconds * 1e6;
            fmt::print(
                "  N = {:4}: step {:7.1f} MGups, roofline {:7.1f} MGups (stream {:.1f} GB/s), "
                "ratio {:.3f}; step {:.0f} us\n",
                n, r.step_mgups, r.roofline_mgups, r.bandwidth * 1e-9,
                r.step_mgups / r.roofline_mgups, step_us);
            fmt::print(
                "            check_step: standing_wave {:.2f} us ({:.3f} % of a step), "
                "soft_gaussian {:.0f} us ({:.1f} % of a step)\n",
                r.check_standing_s * 1e6, 100.0 * r.check_standing_s / r.step_seconds,
                r.check_soft_s * 1e6, 100.0 * r.check_soft_s / r.soft_step_seconds);
            fmt::print("            initialize: standing_wave {:.1f} ms, soft_gaussian {:.3f} ms\n",
                       r.init_standing_s * 1e3, r.init_soft_s * 1e3);
        }
    }
    return 0;
}
