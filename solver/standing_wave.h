#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "machine/error_text.h"
#include "solver/workload.h"

namespace tavro {

/// The default workload: a discretely curl-free sinusoidal E field that an
/// exact solver leaves unchanged. After every step a lattice of sample nodes
/// (coordinates 17, 33, 49, ... on each axis) must keep its initial cell
/// energies within a relative 1e-5; after the run the total energy must stay
/// within 10 % of its initial value. Needs N >= 32.
class standing_wave : public yee_workload {
  public:
    using yee_workload::yee_workload;
    ~standing_wave() override;

    /// Fills E, runs one H update and stores the reference energies. Fails
    /// with "failed to initalize H field" or
    /// "allocation failed for validation buffer".
    /// REQUIRES: allocate_fields succeeded.
    error_text initialize() override;
    /// Nothing is injected; never fails.
    error_text before_step(std::uint64_t iteration) override;
    /// Compares every sample node with its stored energy, stopping at the
    /// first whose deviation is above 1e-5 or not a number.
    /// REQUIRES: initialize succeeded.
    error_text check_step(std::uint64_t iteration) override;
    /// Compares the total energy with the energy after initialisation.
    error_text validate(std::uint64_t iterations) override;

    /// Total energy right after initialisation; 0 before.
    double energy_init() const { return energy_init_; }

  private:
    double energy_init_ = 0.0;
    std::size_t validation_count_ = 0;
    std::unique_ptr<double[]> validation_buffer_;
};

/// The final energy check: passes when the quotient energy_init / energy_calc
/// is finite and |quotient - 1| < 0.1 in double arithmetic (so 0.9 passes and
/// 1.1 fails), else returns the "energy ratio failure" text for thread
/// `thread_index`.
error_text check_standing_wave_energy(std::uint32_t thread_index, double energy_init,
                                      double energy_calc);

}  // namespace tavro
