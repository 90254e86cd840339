// Micro-benchmark of the solver step and of each workload's per-step check.
// The step's rate shows as items/s, one item being one credited grid-cell
// update (work_per_step per step), so 1M items/s is 1 MGups. Not run by the
// tests.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "solver/workload.h"

namespace {

using tavro::workload;

// One prepared workload at a time: a 384 grid takes 3.7 GB and a while to
// initialise, so consecutive benchmarks of the same kind and size share it.
workload* prepared(const std::string& name, std::uint64_t grid_size) {
    static std::unique_ptr<workload> current;
    static std::string current_name;
    static std::uint64_t current_size = 0;
    if (current && current_name == name && current_size == grid_size) {
        return current.get();
    }
    current.reset();
    static const bool small_pages = false;
    std::unique_ptr<workload> w = tavro::make_workload(name, 0);
    if (w->allocate_fields(tavro::grid_request{small_pages, grid_size, 0.01}) || w->initialize()) {
        return nullptr;
    }
    // Advance the soft Gaussian so its pulse has spread into the grid.
    for (std::uint64_t n = 0; n < 30; ++n) {
        if (w->before_step(n) || w->step() || w->check_step(n)) {
            return nullptr;
        }
    }
    current = std::move(w);
    current_name = name;
    current_size = grid_size;
    return current.get();
}

void bm_step(benchmark::State& state) {
    workload* w = prepared("standing_wave", static_cast<std::uint64_t>(state.range(0)));
    if (w == nullptr) {
        state.SkipWithError("could not prepare the grid");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(w->step());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w->work_per_step()));
}

void bm_check_step(benchmark::State& state, const std::string& name) {
    workload* w = prepared(name, static_cast<std::uint64_t>(state.range(0)));
    if (w == nullptr) {
        state.SkipWithError("could not prepare the grid");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(w->check_step(30));
    }
}

}  // namespace

BENCHMARK(bm_step)->Arg(64)->Arg(192)->Arg(384)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(bm_check_step, standing_wave, std::string("standing_wave"))
    ->Arg(64)
    ->Arg(192)
    ->Arg(384)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(bm_check_step, soft_gaussian, std::string("soft_gaussian"))
    ->Arg(64)
    ->Arg(192)
    ->Arg(384)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

BENCHMARK_MAIN();
