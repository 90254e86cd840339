// Performance program for the solver: the step rate of the standing-wave
// workload, the cost of each workload's check_step and initialize, and the
// machine's in-place stream bandwidth measured in the same run, from which
// it prints the step's ratio to its memory roofline. Every worker owns its
// grid and is pinned like a benchmark run. Not run by the tests.
//
// usage: tavro_step_perf [N ...]      (default: 64 192 384)
//
// Each sweep of a step streams the read-only field in and the updated field
// in and out, 96 bytes per cell, over (N + 2)/N times the credited cells;
// the stream a[i] = a[i] + s * b[i] has the same read/read-modify-write
// pattern, so its bandwidth bounds the step at
// bandwidth / (96 x (N + 2) / N) credited updates per second.
#include <fmt/format.h>

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

#include "machine/placement.h"
#include "machine/topology.h"
#include "solver/workload.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Per-thread start and end of one synchronised repetition, seconds from a
// common origin.
struct span {
    double start = 0.0;
    double end = 0.0;
};

// Runs `threads` pinned workers. Each calls setup(t), then for every
// repetition waits for the others and runs body(t); returns, per repetition,
// the wall time from the first start to the last end. teardown(t) runs last.
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
                spans[t][static_cast<std::size_t>(r)].start = seconds_since(origin);
                body(t);
                spans[t][static_cast<std::size_t>(r)].end = seconds_since(origin);
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
        for (std::uint32_t t = 0; t < threads; ++t) {
            first = std::min(first, spans[t][static_cast<std::size_t>(r)].start);
            last = std::max(last, spans[t][static_cast<std::size_t>(r)].end);
        }
        walls.push_back(last - first);
    }
    return walls;
}

double best(const std::vector<double>& walls) {
    return *std::min_element(walls.begin(), walls.end());
}

// In-place stream bandwidth of `threads` workers together, bytes per second:
// 24 bytes per element (a and b read, a written), arrays of 512 MiB each per
// thread, far beyond any last-level cache. Best of five passes.
double stream_bandwidth(const tavro::thread_manager& manager, std::uint32_t threads) {
    constexpr std::size_t elements = std::size_t{64} << 20;
    std::vector<std::unique_ptr<double[]>> a(threads);
    std::vector<std::unique_ptr<double[]>> b(threads);
    const auto setup = [&](std::uint32_t t) {
        a[t] = std::make_unique<double[]>(elements);
        b[t] = std::make_unique<double[]>(elements);
        for (std::size_t n = 0; n < elements; ++n) {
            a[t][n] = 1.0;
            b[t][n] = static_cast<double>(n & 255u) * 1e-3;
        }
    };
    const auto body = [&](std::uint32_t t) {
        double* const pa = a[t].get();
        const double* const pb = b[t].get();
        const double s = 1e-9;
        for (std::size_t n = 0; n < elements; ++n) {
            pa[n] = pa[n] + s * pb[n];
        }
        // Keeps the result observable.
        std::atomic_signal_fence(std::memory_order_seq_cst);
    };
    const std::vector<double> walls = run_synchronised(manager, threads, 5, setup, body);
    return 24.0 * static_cast<double>(elements) * static_cast<double>(threads) / best(walls);
}

struct config_result {
    double step_mgups = 0.0;
    double roofline_mgups = 0.0;
    double step_seconds = 0.0;
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

config_result measure(const tavro::thread_manager& manager, std::uint32_t threads, std::uint64_t n,
                      double bandwidth) {
    config_result out;
    const double cube = static_cast<double>(n) * static_cast<double>(n) * static_cast<double>(n);
    // About 0.4 s of stepping per repetition at the roofline of one core.
    const auto steps = static_cast<std::uint64_t>(std::max(2.0, 75e6 / cube));
    const int repetitions = n >= 384 ? 3 : 5;
    static const bool small_pages = false;
    std::atomic<bool> failed{false};

    std::vector<std::unique_ptr<tavro::workload>> work(threads);
    std::vector<double> init_times(threads);
    std::vector<double> check_times(threads);
    const auto setup_standing = [&](std::uint32_t t) {
        work[t] = tavro::make_workload("standing_wave", t);
        fail_if(work[t]->allocate_fields(tavro::grid_request{small_pages, n, 0.01}).has_value(),
                failed);
        const clock_type::time_point start = clock_type::now();
        fail_if(!failed && work[t]->initialize().has_value(), failed);
        init_times[t] = seconds_since(start);
        fail_if(!failed && work[t]->step().has_value(), failed);
    };
    const auto body_step = [&](std::uint32_t t) {
        for (std::uint64_t s = 0; s < steps && !failed; ++s) {
            fail_if(work[t]->step().has_value(), failed);
        }
    };
    const std::vector<double> walls =
        run_synchronised(manager, threads, repetitions, setup_standing, body_step);
    out.step_seconds = best(walls) / static_cast<double>(steps);
    out.step_mgups = 2.0 * cube * static_cast<double>(threads) / out.step_seconds * 1e-6;
    out.roofline_mgups =
        bandwidth / (96.0 * static_cast<double>(n + 2) / static_cast<double>(n)) * 1e-6;
    out.init_standing_s = *std::max_element(init_times.begin(), init_times.end());

    // The standing wave's check samples a few nodes: time many at once.
    constexpr int sample_checks = 2000;
    const std::vector<double> check_walls = run_synchronised(
        manager, threads, 5, [](std::uint32_t) {},
        [&](std::uint32_t t) {
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
    const std::uint64_t soft_checks = std::max<std::uint64_t>(1, steps / 2);
    const std::vector<double> soft_walls =
        run_synchronised(manager, threads, repetitions, setup_soft, [&](std::uint32_t t) {
            for (std::uint64_t c = 0; c < soft_checks && !failed; ++c) {
                fail_if(work[t]->check_step(warm_steps).has_value(), failed);
            }
        });
    out.check_soft_s = best(soft_walls) / static_cast<double>(soft_checks);
    out.init_soft_s = *std::max_element(init_times.begin(), init_times.end());
    out.failed = failed;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint64_t> sizes;
    for (int a = 1; a < argc; ++a) {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(argv[a], &end, 10);
        if (end == argv[a] || *end != '\0' || v < 32 || v > 2048) {
            fmt::print(stderr, "usage: tavro_step_perf [N ...]  (32 <= N <= 2048)\n");
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
        const double bandwidth = stream_bandwidth(manager, threads);
        fmt::print("threads {}: in-place stream bandwidth {:.1f} GB/s\n", threads,
                   bandwidth * 1e-9);
        for (const std::uint64_t n : sizes) {
            const config_result r = measure(manager, threads, n, bandwidth);
            if (r.failed) {
                fmt::print("  N = {}: a workload failed (memory short?)\n", n);
                continue;
            }
            const double step_us = r.step_seconds * 1e6;
            fmt::print(
                "  N = {:4}: step {:8.1f} MGups, roofline {:8.1f} MGups, ratio {:.3f}; "
                "step {:.0f} us\n",
                n, r.step_mgups, r.roofline_mgups, r.step_mgups / r.roofline_mgups, step_us);
            fmt::print(
                "            check_step: standing_wave {:.2f} us ({:.3f} % of a step), "
                "soft_gaussian {:.0f} us ({:.1f} % of a step)\n",
                r.check_standing_s * 1e6, 100.0 * r.check_standing_s / r.step_seconds,
                r.check_soft_s * 1e6, 100.0 * r.check_soft_s / r.step_seconds);
            fmt::print("            initialize: standing_wave {:.1f} ms, soft_gaussian {:.3f} ms\n",
                       r.init_standing_s * 1e3, r.init_soft_s * 1e3);
        }
    }
    return 0;
}
