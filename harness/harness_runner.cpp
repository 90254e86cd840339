#include "harness/harness_runner.h"

#include <algorithm>
#include <ostream>
#include <thread>

#include <fmt/format.h>

#include "console/text_format.h"

namespace tavro {

namespace {

harness_plan make_plan(const harness_settings& settings, const tavro_harness_context& ctx,
                       bool& known) {
    known = true;
    const std::string& name = settings.var_name;
    const std::string_view text = settings.option_string;
    if (name == "none")
        return h_none_var::gen(text, ctx);
    if (name == "size")
        return h_size_var::gen(text, ctx);
    if (name == "duration")
        return h_dur_var::gen(text, ctx);
    if (name == "threads")
        return h_threads_var::gen(text, ctx);
    if (name == "isa")
        return h_isa_var::gen(text, ctx);
    known = false;
    return std::nullopt;
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

std::string format_results_table(const harness_settings& settings) {
    std::size_t width = std::max<std::size_t>(8, settings.var_name.size());
    for (const harness_run& run : settings.runs) {
        width = std::max(width, run.label.size());
    }
    std::string table = fmt::format("\n!!HARNESS!!\n====={} results=====\n", settings.var_name);
    table += fmt::format(" {:<{}} |", settings.var_name, width);
    for (std::uint32_t i = 1; i <= settings.sub_runs; ++i) {
        table += fmt::format(" {:>8}", fmt::format("run {}", i));
    }
    table += fmt::format(" | {:>8} | {:>8}\n", "avg", "max/min");
    table += std::string(width + 9 * std::size_t{settings.sub_runs} + 25, '=') + "\n";
    for (const harness_run& run : settings.runs) {
        table += fmt::format(" {:<{}} |", run.label, width);
        for (const auto& score : run.scores) {
            table += fmt::format(" {:>8}", score ? fmt::format("{:.2f}", *score) : "---");
        }
        std::string spread;
        const std::string average = average_text(run.scores, spread);
        table += fmt::format(" | {:>8} | {:>8}\n", average, spread);
    }
    return table;
}

void run_harness(harness_settings& settings, const tavro_harness_context& ctx, std::ostream& out,
                 std::ostream& err) {
    bool known = false;
    harness_plan plan = make_plan(settings, ctx, known);
    if (!known) {
        err << "unknown var " << settings.var_name << std::endl;
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
    out << format_results_table(settings) << std::flush;
}

}  // namespace tavro
