#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tavro {

/// What one worker measured over its timed loop.
struct thread_result {
    std::uint32_t thread_index = 0;
    /// Loop length by the coarse timer, in milliseconds.
    std::int64_t coarse_ms = 0;
    /// Loop length by the fast timer, in microseconds.
    std::int64_t fast_us = 0;
    /// Completed solver rounds.
    std::uint64_t iterations = 0;
    /// Credited grid updates: work per step times iterations (wrapping).
    std::uint64_t cell_updates = 0;
    /// Processor time the worker's thread used during the loop, in
    /// microseconds; -1 when the system cannot tell.
    std::int64_t cpu_us = -1;
    /// Time the worker's thread spent during the loop ready to run but
    /// waiting for a processor, in microseconds; -1 when the system cannot
    /// tell.
    std::int64_t wait_us = -1;
};

/// What one run produced. `failed` is set when any worker failed; `results`
/// holds one entry per worker that finished and validated, in append order.
struct run_result {
    bool failed = false;
    std::uint32_t thread_count = 0;
    /// Logical processors the run could use at once; 0 when unknown.
    std::uint32_t usable_cpus = 0;
    std::vector<thread_result> results;
    std::string_view workload_name;
    std::string_view isa_name;

    run_result() = default;
    run_result(run_result&&) = default;
    run_result& operator=(run_result&&) = default;
    run_result(const run_result&) = delete;
    run_result& operator=(const run_result&) = delete;
};

/// One worker's live progress. Each slot fills its own 128-byte block so that
/// the per-round writes of different workers never share or neighbour a cache
/// line. Written by its owner, read by the reporter without a lock; relaxed
/// atomics keep those reads well defined.
struct alignas(128) progress_slot {
    std::atomic<std::uint64_t> iterations{0};
    std::atomic<double> rate_mgups{0.0};
};
static_assert(sizeof(progress_slot) == 128);

/// The live progress of all workers of a run.
class progress_table {
  public:
    explicit progress_table(std::uint32_t slot_count)
        : count_(slot_count), slots_(std::make_unique<progress_slot[]>(slot_count)) {}

    std::uint32_t size() const { return count_; }
    progress_slot& operator[](std::uint32_t i) { return slots_[i]; }
    const progress_slot& operator[](std::uint32_t i) const { return slots_[i]; }

  private:
    std::uint32_t count_;
    std::unique_ptr<progress_slot[]> slots_;
};

}  // namespace tavro
