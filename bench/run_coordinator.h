#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string_view>
#include <thread>

#include "bench/run_result.h"
#include "machine/error_text.h"
#include "machine/memory/system_limits.h"
#include "machine/topology/placement.h"
#include "solver/workload.h"
#include "timing/timers.h"

namespace tavro {

/// What the driver hands to the run coordinator; refers into the driver's
/// frame and is valid only during the call.
struct run_request {
    /// Whether the field grids come from large pages.
    const bool& large_pages;
    /// The resolved thread count and the placement slots.
    const thread_manager& threads;
    std::string_view workload_name;
    std::string_view isa_name;
    bool strict_isa = false;
    /// Length of the timed loop, already clamped to 1..1000.
    std::uint32_t duration_s = 1;
    std::uint64_t grid_size = 0;
    bool bypass_timer_check = false;
    /// Name of the threading manager, shown in the run header.
    std::string_view threading_name;
    /// Logical processors the workers can run on at once; 0 when unknown.
    std::uint32_t usable_cpus = 0;
};

/// What a run uses from the rest of the program. The defaults are the real
/// ones; tests replace some of them to reach the failure paths.
struct run_environment {
    using workload_factory = std::unique_ptr<workload> (*)(std::string_view name,
                                                           std::uint32_t thread_index,
                                                           std::string_view isa_name);
    /// Starts a worker thread; may throw std::system_error like std::thread.
    using thread_starter = std::function<std::thread(std::function<void()>)>;

    workload_factory make_workload;
    thread_starter start_thread;
    bool (*timer_is_compliant)(const timer_info& fast);
    error_text (*isa_check)(std::string_view isa_name);
    /// The most threads the system can run in one process, 0 for no bound.
    std::uint64_t (*thread_limit)();
    /// The physical memory the run must fit in, 0 for no bound; read once
    /// per run, before any worker starts.
    std::uint64_t (*memory_budget)();
    /// The same figure read afresh while the grids are first filled, to
    /// give them up when other programs take the memory meanwhile; nullptr
    /// for no such watch.
    std::uint64_t (*memory_watch)();
    /// With large pages: what the large-page pool can still hand out (0:
    /// nothing) and the large-page size (0: none); read likewise.
    std::uint64_t (*large_page_budget)();
    std::size_t (*large_page_size)();
    /// What a limit on the address space leaves the run; read likewise.
    address_space_facts (*address_space)();
    std::ostream* out;
    std::ostream* err;

    /// The real factory, threads, checks and console streams.
    static run_environment standard();
};

/// Carries out one benchmark run: header, clock lines and checks, then one
/// worker per thread (the calling thread is worker 0, which also reports
/// progress) through allocation, initialisation and the timed loop. A run
/// refused before any worker starts returns no results and `failed` false;
/// `failed` is true whenever a worker failed or could not be started, and
/// for a thread count beyond the system's thread limit or a run whose grids
/// do not all fit in memory, which are refused before anything is set up per
/// thread. Nothing a worker throws (memory
/// running out above all) leaves the run: the worker says so, stops the
/// others and the run fails.
run_result execute_run(const run_request& request,
                       const run_environment& env = run_environment::standard());

}  // namespace tavro
