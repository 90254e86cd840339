#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include <fmt/format.h>

#include "app/option_parser.h"
#include "bench/bench_config.h"
#include "harness/harness_settings.h"
#include "machine/error_text.h"

namespace tavro {

/// The one thing the program does for a command line.
enum class command_action { fail, play_banner, print_help, topo_debug, timer_debug, run };

/// What the command line asks for, with the settings it filled.
struct command_decision {
    command_action action = command_action::run;
    /// For `fail`: the message for the error stream, one line without line
    /// end. For `print_help`: the whole help output, every line ended by
    /// '\n'. Empty otherwise.
    std::string text;
    bench_config config;
    harness_settings harness;
};

/// Tells whether `make_workload` knows a workload name. Must be callable.
using workload_name_check = std::function<bool(const std::string& name)>;

/// The process's arguments: the program name is the first word when there
/// is one (else empty), the arguments are the words after it. Stops at a
/// null word.
argument_list make_argument_list(int argc, const char* const* argv);

/// Parses the words and decides, in this order: a parse failure, the banner,
/// an unknown grid size, an unknown workload name, the help, the topology
/// printout, the timer printout, a grid size whose memory arithmetic would
/// wrap in std::size_t, and otherwise a run. Never prints.
command_decision interpret_command_line(const argument_list& arguments,
                                        const workload_name_check& workload_known);

/// The process exit code for a decision: 1 for `fail`, else 0.
inline int exit_code_of(const command_decision& decision) {
    return decision.action == command_action::fail ? 1 : 0;
}

/// Whether the memory arithmetic of an N x N x N grid (N = `grid_size`, with
/// a one-cell border on each side) fits `size_type`: the cell count must
/// fit, the bytes of one field (32 per cell) must not wrap, and N x N must
/// not wrap in 64 bits. Returns the message of the first check that fails.
template <typename size_type>
error_text check_grid_arithmetic(std::uint64_t grid_size) {
    constexpr std::uint64_t max_u64 = std::numeric_limits<std::uint64_t>::max();
    constexpr size_type max_size = std::numeric_limits<size_type>::max();
    constexpr size_type field_bytes_per_cell = 32;
    // Checked even in 64 bits so that no grid size can make the count wrap.
    const std::uint64_t dim = grid_size + 2;
    const bool cells_wrap = dim < grid_size || max_u64 / dim < dim || max_u64 / (dim * dim) < dim;
    if (cells_wrap || dim * dim * dim > max_size) {
        return fmt::format("grid size {} is too large for the address space", grid_size);
    }
    const auto cells = static_cast<size_type>(dim * dim * dim);
    if (cells != 0 && max_size / cells < field_bytes_per_cell) {
        return fmt::format("grid size {} would overflow memory calculation", grid_size);
    }
    if (grid_size != 0 && max_u64 / grid_size < grid_size) {
        return fmt::format("grid size {} would overflow slice buffer", grid_size);
    }
    return std::nullopt;
}

}  // namespace tavro
