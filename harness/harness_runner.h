#pragma once

#include <chrono>
#include <iosfwd>

#include "harness/harness_settings.h"
#include "harness/harness_vars.h"

namespace tavro {

/// Plans the sweep named by `settings.var_name`, prints the plan and its
/// estimated time, runs every planned run `settings.sub_runs` times and ends
/// with the results table. Plan, markers and table go to `out`; an unknown
/// variable or an option text it cannot use is reported on `err` and nothing
/// runs. `settings.runs` keeps the plan and its scores afterwards.
/// A plan too large for memory is refused as described at planned_run_bytes.
void run_harness(harness_settings& settings, const tavro_harness_context& ctx, std::ostream& out,
                 std::ostream& err);

/// Memory one planned run takes until its sweep ends: its record, the state
/// of its callable (a heap block of its own) and its row of the results
/// table. A plan whose runs together need more than the context's memory
/// budget is refused before it is built (message on `err`, the empty results
/// table on `out`, nothing runs). Scores grow with the sub-runs as they
/// finish, so they are not counted here.
inline constexpr std::uint64_t planned_run_bytes = sizeof(harness_run) + 128 + 64;

/// Writes the results table of a finished sweep to `out`, from its empty
/// first line to the last row; every line, the last included, ends with a
/// line end, and the stream is flushed at the end.
void write_results_table(const harness_settings& settings, std::ostream& out);

}  // namespace tavro
