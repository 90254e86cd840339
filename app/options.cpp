#include "app/options.h"

#include <algorithm>
#include <ostream>

#include <fmt/format.h>

#include "console/text_format.h"

namespace tavro {

namespace {

// The run clamps its duration to these bounds; the help states them.
constexpr std::uint32_t shortest_duration_s = 1;
constexpr std::uint32_t longest_duration_s = 1000;

void add_main_options(option_parser& parser, bench_config& config, command_flags& flags) {
    parser.add(option_spec(config.threads, "numthreads")
                   .add_name("-n")
                   .add_name("--numthreads")
                   .set_help("Number of threads to use"));
    parser.add(option_spec(config.duration_s, "duration")
                   .add_name("-d")
                   .add_name("--duration")
                   .set_help(fmt::format("Bench duration (s) between {}-{}s", shortest_duration_s,
                                         longest_duration_s)));
    parser.add(option_spec(config.grid_size, "size")
                   .add_name("-s")
                   .add_name("--size")
                   .set_help(fmt::format("Grid size, one of [{}]", allowed_grid_sizes_text)));
    parser.add(option_spec(config.workload_name, "workload")
                   .add_name("--workload")
                   .set_help(fmt::format("Workload to use (results with different workloads "
                                         "aren't comparable), one of [{}]",
                                         workload_names_text)));
    parser.add(option_spec(config.threading, "threading")
                   .add_name("--threading")
                   .set_help("Threading manager to use")
                   .set_choices({"os", "numa", "phte"}));
    parser.add(option_spec(config.large_pages)
                   .add_name("--large-pages")
                   .set_help("Use large pages allocator"));
    parser.add(option_spec(config.bypass_timer_check)
                   .add_name("--bypass-timer-check")
                   .set_help("Run the bench even if the timer is not HWBOT compliant"));
    parser.add(option_spec(flags.topo_debug)
                   .add_name("--topo-debug")
                   .set_help("Print detected topology for debug"));
    parser.add(option_spec(flags.timer_debug)
                   .add_name("--timer-debug")
                   .set_help("Printed detected timers"));
    parser.add(option_spec(flags.show_banner).add_name("--tavro"));
}

void add_harness_options(option_parser& parser, harness_settings& harness) {
    parser.add(option_spec(harness.var_name, "var")
                   .add_name("--harness-var")
                   .set_help("Variable for the harness to test over")
                   .set_choices({"none", "size", "duration", "threads", "isa"}));
    parser.add(option_spec(harness.sub_runs, "harness-sub-runs")
                   .add_name("--harness-sub-runs")
                   .set_help("How many times to run the benchmark for each parameter sweep point"));
    parser.add(option_spec(harness.option_string, "harness-option-string")
                   .add_name("--harness-opt")
                   .set_help("String parsed by selected variable to specify scope if supported"));
}

}  // namespace

option_parser make_option_parser(bench_config& config, command_flags& flags,
                                 harness_settings& harness) {
    option_parser parser;
    parser.add(option_spec::help_option(flags.show_help));
    add_main_options(parser, config, flags);
    add_harness_options(parser, harness);
    return parser;
}

void print_grid_size_table(std::ostream& out) {
    out << fmt::format("{:<12}    {:>10}\n", "field size", "memory used per thread");
    for (const std::uint64_t size : allowed_grid_sizes) {
        out << fmt::format("  {:<12}    {:>12}\n", size, format_bytes(grid_bytes_per_thread(size)));
    }
}

}  // namespace tavro
