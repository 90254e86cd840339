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
void run_harness(harness_settings& settings, const tavro_harness_context& ctx, std::ostream& out,
                 std::ostream& err);

/// The results table of a finished sweep, from its empty first line to the
/// last row; every line, the last included, ends with a line end.
std::string format_results_table(const harness_settings& settings);

}  // namespace tavro
