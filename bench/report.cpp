#include "bench/report.h"

#include <algorithm>
#include <array>
#include <ostream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "bench/version.h"

namespace tavro {

namespace {

constexpr std::size_t column_count = 5;
using table_row = std::array<std::string, column_count>;

constexpr std::array<std::string_view, column_count> header_titles = {
    "thread", "grid updates", "time", "MGups", "iterations"};

void print_row(std::ostream& out, const std::array<std::size_t, column_count>& widths,
               const auto& cells) {
    std::string line;
    for (std::size_t c = 0; c < column_count; ++c) {
        if (c != 0) {
            line += "  ";
        }
        line += fmt::format("{:>{}}", cells[c], widths[c]);
    }
    out << line << std::endl;
}

}  // namespace

namespace {

/// The sums over the workers of their processor, waiting and loop times in
/// microseconds; nothing when a figure that `with_waits` needs is unknown or
/// no loop or processor time was counted (a clock that does not count: each
/// worker completed at least one round).
struct loop_sums {
    double cpu_us = 0.0;
    double wait_us = 0.0;
    double loop_us = 0.0;
};
std::optional<loop_sums> sum_loop_times(const run_result& result, bool with_waits) {
    loop_sums sums;
    for (const thread_result& r : result.results) {
        if (r.cpu_us < 0 || (with_waits && r.wait_us < 0)) {
            return std::nullopt;
        }
        sums.cpu_us += static_cast<double>(r.cpu_us);
        sums.wait_us += with_waits ? static_cast<double>(r.wait_us) : 0.0;
        sums.loop_us += static_cast<double>(r.fast_us);
    }
    if (sums.loop_us <= 0.0 || sums.cpu_us <= 0.0) {
        return std::nullopt;
    }
    return sums;
}

}  // namespace

std::optional<double> runnable_share(const run_result& result) {
    const std::optional<loop_sums> sums = sum_loop_times(result, true);
    if (!sums) {
        return std::nullopt;
    }
    return (sums->cpu_us + sums->wait_us) / sums->loop_us;
}

std::optional<double> running_share(const run_result& result) {
    const std::optional<loop_sums> sums = sum_loop_times(result, false);
    if (!sums || result.usable_cpus == 0) {
        return std::nullopt;
    }
    // With more threads than processors each runs only part of the time,
    // but together they keep every processor busy.
    const double threads = static_cast<double>(result.results.size());
    const double running = std::min(threads, static_cast<double>(result.usable_cpus));
    return sums->cpu_us / (running * (sums->loop_us / threads));
}

void print_warning_box(std::ostream& err) {
    err << "===========" << std::endl << "  warning  " << std::endl << "===========" << std::endl;
}

void print_invalid_box(std::ostream& err) {
    err << "==================" << std::endl
        << "  invalid result " << std::endl
        << "==================" << std::endl;
}

std::optional<double> report_result(const run_result& result, std::string_view cpu_brand,
                                    std::ostream& out, std::ostream& err) {
    if (result.failed) {
        print_invalid_box(err);
        return std::nullopt;
    }
    if (result.results.size() < result.thread_count) {
        print_invalid_box(err);
        err << "not all threads produced a result" << std::endl;
        return std::nullopt;
    }

    double score = 0.0;
    std::vector<table_row> rows;
    rows.reserve(result.results.size());
    for (const thread_result& r : result.results) {
        const double seconds = static_cast<double>(r.fast_us) / 1'000'000.0;
        const double rate = (static_cast<double>(r.cell_updates) / 1'000'000.0) / seconds;
        rows.push_back({fmt::format("{}", r.thread_index), fmt::format("{}", r.cell_updates),
                        fmt::format("{:.2f}s", seconds), fmt::format("{:.2f}", rate),
                        fmt::format("{}", r.iterations)});
        score += rate;
    }

    std::array<std::size_t, column_count> widths{};
    for (std::size_t c = 0; c < column_count; ++c) {
        widths[c] = header_titles[c].size();
        for (const table_row& row : rows) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    print_row(out, widths, header_titles);
    for (const table_row& row : rows) {
        print_row(out, widths, row);
    }

    for (const thread_result& r : result.results) {
        const std::int64_t fast_ms = r.fast_us / 1000;
        const std::int64_t diff = fast_ms - r.coarse_ms;
        if (diff > timer_tolerance_ms || diff < -timer_tolerance_ms) {
            print_invalid_box(err);
            err << "disagreement between timers for total work is larger than tolerance"
                << std::endl;
            err << fmt::format("fast timer = {}ms    coarse timer = {}ms", fast_ms, r.coarse_ms)
                << std::endl;
            return std::nullopt;
        }
    }
    // Both clocks run on while the process is stopped, so only the time the
    // workers really had tells a stopped run from a slow machine.
    if (const std::optional<double> runnable = runnable_share(result)) {
        if (const double stopped = 1.0 - *runnable; stopped > max_stopped_share) {
            print_invalid_box(err);
            err << fmt::format("the workers were stopped or blocked for {:.0f} % of the loop time",
                               stopped * 100.0)
                << std::endl;
            return std::nullopt;
        }
    } else if (const std::optional<double> share = running_share(result);
               share && *share < min_running_share) {
        print_invalid_box(err);
        err << fmt::format(
                   "the workers ran {:.0f} % of the loop time: the process was stopped or the "
                   "machine was busy",
                   *share * 100.0)
            << std::endl;
        return std::nullopt;
    }

    out << "===============" << std::endl
        << "  valid result " << std::endl
        << "===============" << std::endl;
    out << "tavro v" << tavro_version << " " << result.workload_name << std::endl;
    out << cpu_brand << std::endl;
    if (score > 100.0) {
        out << fmt::format("final score: {:.2f} MGups", score) << std::endl;
    } else {
        out << fmt::format("final score: {:.4g} MGups", score) << std::endl;
    }
    return score;
}

}  // namespace tavro
