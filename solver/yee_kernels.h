#pragma once

#include "solver/field_grid.h"

namespace tavro {

/// Advances H in place by one half step from the curl of E, for the H cells
/// with indices 1..N - 1 on every axis (N = e.dim - 2). True when the loops
/// ended on their bound: always for N >= 1, false for N = 0 and for a grid
/// without storage or with arrays of different sizes.
bool update_h(yee_grid& grid);

/// Advances E in place by one half step from the curl of H, for the E cells
/// with indices 2..N on every axis. True when the loops ended on their bound:
/// always for N >= 1, false for N = 0 and for a grid without storage or with
/// arrays of different sizes.
bool update_e(yee_grid& grid);

}  // namespace tavro
