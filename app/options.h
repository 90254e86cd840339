#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "app/option_parser.h"
#include "bench/bench_config.h"
#include "harness/harness_settings.h"
#include "solver/workload.h"

namespace tavro {

/// The command-line switches that pick what the program does instead of a run.
struct command_flags {
    bool show_help = false;
    bool show_banner = false;
    bool topo_debug = false;
    bool timer_debug = false;
};

/// A parser holding every option of the program, bound to the given objects,
/// which must outlive it. The defaults that the help shows are the values
/// the objects hold now.
option_parser make_option_parser(bench_config& config, command_flags& flags,
                                 harness_settings& harness);

/// Writes the table of grid sizes and the memory that one thread's grid
/// takes, one row per allowed size, every line ended by '\n'.
void print_grid_size_table(std::ostream& out);

}  // namespace tavro
