// Performance program for the run's barrier: how far apart the workers'
// timed loops start. Each repetition starts P threads that pass three
// barrier phases, as the workers of a run do, read the clock, and then
// compute for a while as a timed loop would, so that with more threads than
// processors they compete for the processors as real workers do. The spread
// is the time from the first start to the last. For comparison the same is
// done with the same barrier sleeping in the standard library's atomic wait
// (a futex on Linux; a mutex and condition variable in MinGW's library, not
// measured on Windows: see main) and
// with a barrier built on a condition variable, which hands its mutex to the
// waiters one after another. Not run by the tests.
//
// usage: tavro_barrier_perf [threads ...]      (default: 2 16 64 128)
#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/phase_barrier.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int repetitions = 15;
constexpr auto loop_time = std::chrono::milliseconds(200);

// A barrier on a condition variable: every waiter must take the mutex again
// before it returns.
class condition_barrier {
  public:
    explicit condition_barrier(std::uint32_t participants) : expected_(participants) {}
    bool arrive_and_wait() {
        std::unique_lock lock(mutex_);
        if (++arrived_ == expected_) {
            arrived_ = 0;
            ++phase_;
            done_.notify_all();
            return false;
        }
        const std::uint64_t phase = phase_;
        done_.wait(lock, [&] { return phase_ != phase; });
        return false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::uint32_t expected_;
    std::uint32_t arrived_ = 0;
    std::uint64_t phase_ = 0;
};

// The phase barrier's scheme, sleeping in std::atomic::wait.
class atomic_wait_barrier {
  public:
    explicit atomic_wait_barrier(std::uint32_t participants) : expected_(participants) {}
    bool arrive_and_wait() {
        std::unique_lock lock(mutex_);
        const std::uint32_t phase = phase_.load(std::memory_order_relaxed);
        if (++arrived_ == expected_) {
            arrived_ = 0;
            phase_.store(phase + 1, std::memory_order_release);
            lock.unlock();
            phase_.notify_all();
            return false;
        }
        lock.unlock();
        phase_.wait(phase, std::memory_order_acquire);
        return false;
    }

  private:
    std::mutex mutex_;
    std::uint32_t expected_;
    std::uint32_t arrived_ = 0;
    std::atomic<std::uint32_t> phase_{0};
};

// Keeps a processor busy until `until`, as a timed loop does.
void compute_until(clock_type::time_point until) {
    volatile double x = 1.0;
    while (clock_type::now() < until) {
        for (int n = 0; n < 1000; ++n) {
            x = x * 1.0000001;
        }
    }
}

// Milliseconds from the first loop start to the last, one repetition.
template <typename Barrier>
double start_spread_ms(std::uint32_t threads) {
    Barrier barrier(threads);
    std::vector<clock_type::time_point> starts(threads);
    std::vector<std::thread> workers;
    workers.reserve(threads);
    for (std::uint32_t t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int phase = 0; phase < 3; ++phase) {
                barrier.arrive_and_wait();
            }
            starts[t] = clock_type::now();
            compute_until(starts[t] + loop_time);
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    const auto [first, last] = std::minmax_element(starts.begin(), starts.end());
    return std::chrono::duration<double, std::milli>(*last - *first).count();
}

struct summary {
    double median = 0.0;
    double worst = 0.0;
};

template <typename Barrier>
summary measure(std::uint32_t threads) {
    std::vector<double> spreads;
    for (int r = 0; r < repetitions; ++r) {
        spreads.push_back(start_spread_ms<Barrier>(threads));
    }
    std::sort(spreads.begin(), spreads.end());
    return {spreads[spreads.size() / 2], spreads.back()};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint32_t> counts;
    for (int a = 1; a < argc; ++a) {
        const long n = std::strtol(argv[a], nullptr, 10);
        if (n < 1 || n > 4096) {
            fmt::print(stderr, "usage: tavro_barrier_perf [threads ...] (1..4096)\n");
            return 2;
        }
        counts.push_back(static_cast<std::uint32_t>(n));
    }
    if (counts.empty()) {
        counts = {2, 16, 64, 128};
    }
    fmt::print("{} processors; spread of the loop starts, median and worst of {} repetitions\n",
               std::thread::hardware_concurrency(), repetitions);
    fmt::print("{:>8}  {:>22}  {:>22}  {:>22}\n", "threads", "phase_barrier (ms)",
               "atomic wait (ms)", "condition var. (ms)");
    for (const std::uint32_t n : counts) {
        // Each column is printed as soon as it is measured.
        fmt::print("{:>8}", n);
        const auto column = [](const summary& s) {
            fmt::print("  {:>10.3f} {:>11.3f}", s.median, s.worst);
            std::fflush(stdout);
        };
        column(measure<tavro::phase_barrier>(n));
#ifdef _WIN32
        // MinGW's library sleeps in a mutex and condition variable here, and
        // with 64 threads under Wine a wake was lost and the program hung.
        fmt::print("  {:>22}", "not measured");
#else
        column(measure<atomic_wait_barrier>(n));
#endif
        column(measure<condition_barrier>(n));
        fmt::print("\n");
    }
    return 0;
}
