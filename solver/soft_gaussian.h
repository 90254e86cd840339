#pragma once

#include <cstdint>

#include "machine/error_text.h"
#include "solver/workload.h"

namespace tavro {

/// One row of the expected energy-ratio table: the band applies to
/// iterations greater than `threshold`.
struct ratio_band {
    double tolerance;
    double expected;
    std::uint64_t threshold;
};

/// The band for the check after step `iteration`: the first table row whose
/// threshold is below the iteration, else 1.33333 within 0.1. The bands
/// narrow as the pulse passes: beyond 116 steps, 1.51904 within 0.01.
ratio_band ratio_band_for(std::uint64_t iteration);

/// Whether `ratio` lies strictly inside `band`: a ratio exactly at the edge
/// fails.
bool ratio_in_band(double ratio, const ratio_band& band);

/// The energy-balance check after step `iteration`: passes when
/// energy_acc / energy_calc is finite and inside its band, else returns the
/// "energy ratio failure" text for thread `thread_index`.
error_text check_energy_balance(std::uint32_t thread_index, std::uint64_t iteration,
                                double energy_acc, double energy_calc);

/// The second workload: a Gaussian pulse in time drives the centre cell as a
/// soft source (added to what is there), and after every step the energy the
/// source put in is compared with the grid's total energy.
class soft_gaussian : public yee_workload {
  public:
    using yee_workload::yee_workload;

    /// Sets the source factors and the thread's flush-to-zero mode; the
    /// fields stay zero. Never fails.
    error_text initialize() override;
    /// Subtracts the pulse at time `iteration` from Ez of the E centre cell
    /// and Hy of the H centre cell and books the energy change. Never fails.
    /// REQUIRES: allocate_fields succeeded.
    error_text before_step(std::uint64_t iteration) override;
    /// check_energy_balance on the total energy after the step.
    error_text check_step(std::uint64_t iteration) override;
    /// Nothing to check after the run; never fails.
    error_text validate(std::uint64_t iterations) override;

    /// Energy injected by the source so far.
    double energy_acc() const { return energy_acc_; }

  private:
    double energy_acc_ = 0.0;
    double source_e_ = 0.0;
    double source_h_ = 0.0;
};

}  // namespace tavro
