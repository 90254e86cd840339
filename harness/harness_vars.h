#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_config.h"
#include "machine/memory/memory.h"
#include "machine/topology/topology.h"

namespace tavro {

/// Runs one benchmark with the given settings; returns its score in MGups, or
/// nothing when the run produced no valid result.
using benchmark_fn = std::optional<double> (*)(bench_config, std::optional<cpu_topology>&);

/// What every sweep generator receives: the command-line settings the sweep
/// starts from, the process-wide topology cache, the benchmark to run (the
/// real driver unless a test substitutes its own) and the memory a plan may
/// take (0: unknown).
struct tavro_harness_context {
    bench_config& config;
    std::optional<cpu_topology>& topology;
    benchmark_fn run;
    std::uint64_t (*memory_budget)() = &available_physical_memory;
};

/// One planned run of a sweep.
struct harness_run {
    /// The swept value as text; the row name of the result table.
    std::string label;
    /// Estimated seconds of one execution.
    std::uint32_t estimate_s = 0;
    /// Runs the benchmark once with the swept setting; may be invoked repeatedly.
    std::function<std::optional<double>()> action;
    /// One score per sub-run, filled by the runner; empty entries are invalid runs.
    std::vector<std::optional<double>> scores;
};

using harness_plan = std::optional<std::vector<harness_run>>;

/// A whole text of decimal digits as a number of type T; nothing for an empty
/// text, any other character, or a value that does not fit.
template <class T>
std::optional<T> parse_decimal(std::string_view text);

/// The pieces of "lo-hi:step", each absent when its text is empty.
struct range_spec {
    std::optional<std::string_view> lo;
    std::optional<std::string_view> hi;
    std::optional<std::string_view> step;
};
range_spec split_range_spec(std::string_view text);

/// The text split at every ",", empty items kept.
std::vector<std::string_view> split_list(std::string_view text);

/// The values a numeric sweep takes for an option text, with the class's
/// lower and upper defaults; nothing when the text cannot be understood.
std::optional<std::vector<std::uint32_t>> sweep_values(std::string_view text, std::uint32_t lower,
                                                       std::uint32_t upper);

/// How many values sweep_values gives for an option text, counted without
/// building them; nothing when the text cannot be understood.
std::optional<std::uint64_t> sweep_value_count(std::string_view text, std::uint32_t lower,
                                               std::uint32_t upper);

/// The grid sizes a size sweep takes for an option text.
std::optional<std::vector<std::uint64_t>> sweep_sizes(std::string_view text);

/// The instruction-set names an isa sweep takes for an option text.
std::optional<std::vector<std::string_view>> sweep_isa_names(std::string_view text);

/// Instruction-set variant names that the harness can select, in order.
inline constexpr std::string_view harness_isa_names[] = {"sse2"};

/// The sweep variables. Each `gen` plans one run per value of its setting;
/// nothing when the option text cannot be understood. `count` tells how many
/// runs `gen` would plan, or nothing where `gen` gives nothing, without
/// building them. Nothing runs here.
struct h_none_var {
    static harness_plan gen(std::string_view text, const tavro_harness_context& ctx);
    static std::optional<std::uint64_t> count(std::string_view text,
                                              const tavro_harness_context& ctx);
};
struct h_dur_var {
    static harness_plan gen(std::string_view text, const tavro_harness_context& ctx);
    static std::optional<std::uint64_t> count(std::string_view text,
                                              const tavro_harness_context& ctx);
};
struct h_threads_var {
    static harness_plan gen(std::string_view text, const tavro_harness_context& ctx);
    static std::optional<std::uint64_t> count(std::string_view text,
                                              const tavro_harness_context& ctx);
};
struct h_size_var {
    static harness_plan gen(std::string_view text, const tavro_harness_context& ctx);
    static std::optional<std::uint64_t> count(std::string_view text,
                                              const tavro_harness_context& ctx);
};
struct h_isa_var {
    static harness_plan gen(std::string_view text, const tavro_harness_context& ctx);
    static std::optional<std::uint64_t> count(std::string_view text,
                                              const tavro_harness_context& ctx);
};

}  // namespace tavro
