#pragma once

#include "solver/field_grid.h"

namespace tavro {

/// The update kernels written as plain loops, one cell per iteration. They
/// define the arithmetic that update_h and update_e must reproduce bit for
/// bit; the tests compare the fast kernels with them. Same contracts as
/// update_h and update_e.
bool update_h_plain(yee_grid& grid);
bool update_e_plain(yee_grid& grid);

/// total_energy as a plain loop over cell_energy, the reference for the
/// fast pass. Same contract as total_energy.
double total_energy_plain(const yee_grid& grid);

}  // namespace tavro
