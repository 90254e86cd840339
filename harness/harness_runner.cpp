#include "harness/harness_runner.h"

#include <algorithm>
#include <limits>
#include <new>
#include <ostream>
#include <thread>

#include <fmt/format.h>

#include "console/text_format.h"

namespace tavro {

namespace {

/// The planning operations of one sweep variable.
struct sweep_variable {
    harness_plan (*gen)(std::string_view, const tavro_harness_context&);
    std::optional<std::uint64_t> (*count)(std::string_view, const tavro_harness_context&);
};

template <class var>
constexpr sweep_variable variable_of() {
    return {&var::gen, &var::count};
}

std::optional<sweep_variable> find_variable(const std::string& name) {
    if (name == "none")
        return variable_of<h_none_var>();
    if (name == "size")
        return variable_of<h_size_var>();
    if (name == "duration")
        return variable_of<h_dur_var>();
    if (name == "threads")
        return variable_of<h_threads_var>();
    if (name == "isa")
        return variable_of<h_isa_var>();
    return std::nullopt;
}

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    return b != 0 && a > max / b ? max : a * b;
}

std::uint32_t estimated_seconds(const harness_settings& settings) {
    const auto planned = static_cast<std::uint32_t>(settings.runs.size());
    std::uint32_t total = planned * settings.pause_ms / 1000;
    for (const harness_run& run : settings.runs) {
        total += run.estimate_s * settings.sub_runs;
    }
    return total;
}

void print_plan(const harness_settings& settings, std::ostream& out) {
    out << "!!HARNESS!! run values:" << std::endl;
    for (const harness_run& run : settings.runs) {
        out << run.label << std::endl;
    }
    out << "!!HARNESS!! estimated total time = " << format_duration(estimated_seconds(settings))
        << std::endl;
}

void execute_plan(harness_settings& settings, std::ostream& out) {
    const std::uint64_t total = std::uint64_t{settings.runs.size()} * settings.sub_runs;
    std::uint64_t k = 0;
    for (harness_run& run : settings.runs) {
        // Grown one entry per finished sub-run rather than sized up front, so
        // that an absurd sub-run count never asks for its memory all at once.
        run.scores.clear();
        run.scores.reserve(std::min<std::uint32_t>(settings.sub_runs, 1024));
        for (std::uint32_t i = 0; i < settings.sub_runs; ++i) {
            ++k;
            out << std::endl << "!!HARNESS!! run " << k << "/" << total << std::endl << std::endl;
            run.scores.push_back(run.action());
            std::this_thread::sleep_for(std::chrono::milliseconds(settings.pause_ms));
        }
    }
}

std::string average_text(const std::vector<std::optional<double>>& scores, std::string& spread) {
    double sum = 0;
    double max = 0.0;
    double min = 1e20;
    std::size_t count = 0;
    for (const auto& score : scores) {
        if (score) {
            sum += *score;
            max = std::max(max, *score);
            min = std::min(min, *score);
            ++count;
        }
    }
    spread = max >= 1e-10 ? fmt::format("{:.2f}%", (max / min - 1) * 100) : "---";
    return sum >= 1e-10 ? fmt::format("{:.2f}", sum / static_cast<double>(count)) : "---";
}

}  // namespace

void write_results_table(const harness_settings& settings, std::ostream& out) {
    std::size_t width = std::max<std::size_t>(8, settings.var_name.size());
    for (const harness_run& run : settings.runs) {
        width = std::max(width, run.label.size());
    }
    // Written piece by piece: with a vast sub-run count the header and the
    // rule alone are gigabytes, which must not be held in memory at once.
    // Writing stops early once the stream has failed.
    out << fmt::format("\n!!HARNESS!!\n====={} results=====\n", settings.var_name);
    out << fmt::format(" {:<{}} |", settings.var_name, width);
    for (std::uint32_t i = 1; i <= settings.sub_runs && out; ++i) {
        out << fmt::format(" {:>8}", fmt::format("run {}", i));
    }
    out << fmt::format(" | {:>8} | {:>8}\n", "avg", "max/min");
    const std::string rule_piece(4096, '=');
    for (std::uint64_t left = width + 9 * std::uint64_t{settings.sub_runs} + 25; left > 0 && out;) {
        const std::uint64_t piece = std::min<std::uint64_t>(left, rule_piece.size());
        out.write(rule_piece.data(), static_cast<std::streamsize>(piece));
        left -= piece;
    }
    out << '\n';
    for (const harness_run& run : settings.runs) {
        out << fmt::format(" {:<{}} |", run.label, width);
        for (const auto& score : run.scores) {
            out << fmt::format(" {:>8}", score ? fmt::format("{:.2f}", *score) : "---");
        }
        std::string spread;
        const std::string average = average_text(run.scores, spread);
        out << fmt::format(" | {:>8} | {:>8}\n", average, spread);
    }
    out << std::flush;
}

void run_harness(harness_settings& settings, const tavro_harness_context& ctx, std::ostream& out,
                 std::ostream& err) {
    const std::optional<sweep_variable> variable = find_variable(settings.var_name);
    if (!variable) {
        err << "unknown var " << settings.var_name << std::endl;
        return;
    }
    const std::string_view text = settings.option_string;
    const std::optional<std::uint64_t> count = variable->count(text, ctx);
    // A plan is counted before it is built: a range such as 1-4294967295
    // would take hundreds of gigabytes, and the process would abort or be
    // killed on the way. Such a plan is refused and nothing runs.
    const std::uint64_t budget = ctx.memory_budget != nullptr ? ctx.memory_budget() : 0;
    const std::uint64_t plan_bytes = count ? saturating_product(*count, planned_run_bytes) : 0;
    harness_plan plan;
    bool fits = budget == 0 || plan_bytes <= budget;
    if (count && fits) {
        try {
            plan = variable->gen(text, ctx);
        } catch (const std::bad_alloc&) {
            fits = false;  // the estimate was short of a limit it cannot see
        }
    }
    if (!fits) {
        err << fmt::format(
                   "the harness plan for {} of {} runs needs about {} of memory, more "
                   "than is available; refused",
                   settings.var_name, *count, format_bytes(plan_bytes))
            << std::endl;
        settings.runs.clear();
        write_results_table(settings, out);
        return;
    }
    if (!plan) {
        err << "couldn't generate runs for harness for " << settings.var_name << "\t"
            << settings.option_string << std::endl;
        return;
    }
    settings.runs = std::move(*plan);
    print_plan(settings, out);
    execute_plan(settings, out);
    write_results_table(settings, out);
}

}  // namespace tavro
