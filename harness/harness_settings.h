#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "harness/harness_vars.h"

namespace tavro {

/// What the harness runner does with a benchmark invocation, filled from the
/// command line before the runner starts.
struct harness_settings {
    /// Pause between two sub-runs, in milliseconds.
    std::uint32_t pause_ms = 1;
    /// How many times each planned run is repeated.
    std::uint32_t sub_runs = 3;
    /// The planned runs of the last sweep with their scores; replaced by
    /// every call of the runner.
    std::vector<harness_run> runs;
    /// Name of the variable to sweep: "none", "size", "duration", "threads" or "isa".
    std::string var_name = "none";
    /// Sweep range text, read by the selected variable; may be empty.
    std::string option_string;
};

}  // namespace tavro
