#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "machine/error_text.h"
#include "machine/memory/memory.h"
#include "solver/field_grid.h"

namespace tavro {

/// The work of one worker thread. The run coordinator calls allocate_fields
/// and initialize once, then before_step(n), step() and check_step(n) per
/// iteration (n = iterations already completed), then validate(n). Any error
/// text ends the worker. Owned and used by one thread; never throws.
class workload {
  public:
    explicit workload(std::uint32_t thread_index) : thread_index_(thread_index) {}
    virtual ~workload() = default;
    workload(const workload&) = delete;
    workload& operator=(const workload&) = delete;

    /// Builds the grid; "field allocation failed" when memory is short.
    virtual error_text allocate_fields(const grid_request& request) = 0;
    /// Sets the starting fields and the thread's flush-to-zero mode.
    virtual error_text initialize() = 0;
    /// Applies what the workload injects before step `iteration`.
    virtual error_text before_step(std::uint64_t iteration) = 0;
    /// Advances the fields by one time step.
    virtual error_text step() = 0;
    /// Checks the physics after step `iteration`.
    virtual error_text check_step(std::uint64_t iteration) = 0;
    /// Checks the result after `iterations` steps.
    virtual error_text validate(std::uint64_t iterations) = 0;
    /// Grid-cell updates that one step is credited with.
    virtual std::uint64_t work_per_step() const = 0;

    /// Number of the owning worker thread, shown in failure texts.
    std::uint32_t thread_index() const { return thread_index_; }

  private:
    std::uint32_t thread_index_;
};

/// A workload on one Yee grid: allocation, the solver step and the work count
/// are shared; initialisation and checks belong to the concrete workloads.
class yee_workload : public workload {
  public:
    /// Grids are admitted against `ledger`, which must outlive the workload.
    explicit yee_workload(std::uint32_t thread_index,
                          grid_memory_ledger& ledger = process_grid_ledger())
        : workload(thread_index), ledger_(&ledger) {}
    ~yee_workload() override;

    /// Builds a new grid of request.grid_size + 2 cells per axis, releasing
    /// any earlier one after the new one is built. "field allocation failed"
    /// when either array could not be obtained, and then the grid holds
    /// neither.
    error_text allocate_fields(const grid_request& request) override;
    /// update_h then update_e; "solver H step error in thread <n>" or
    /// "solver E step error in thread <n>" when a kernel reports failure
    /// (E is not updated after an H failure).
    error_text step() override;
    /// 2 x N^3, the count the score credits (each kernel updates (N - 1)^3).
    std::uint64_t work_per_step() const override;

    yee_grid& grid() { return grid_; }
    const yee_grid& grid() const { return grid_; }
    bool fields_allocated() const { return fields_allocated_; }

  private:
    grid_memory_ledger* ledger_;
    yee_grid grid_;
    bool fields_allocated_ = false;
};

/// Names accepted by make_workload, for messages.
inline constexpr std::string_view workload_names_text = "standing_wave, soft_gaussian";

/// The workload named `name` exactly (case-sensitive): "standing_wave" or
/// "soft_gaussian"; nullptr for any other name.
std::unique_ptr<workload> make_workload(std::string_view name, std::uint32_t thread_index);

/// As above; the instruction-set variant name is accepted and ignored, as
/// every variant runs the same kernels.
std::unique_ptr<workload> make_workload(std::string_view name, std::uint32_t thread_index,
                                        std::string_view isa_name);

}  // namespace tavro
