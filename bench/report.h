#pragma once

#include <iosfwd>
#include <optional>
#include <string_view>

#include "bench/run_result.h"

namespace tavro {

/// Largest accepted difference, per thread, between the fast and the coarse
/// timer's length of the timed loop.
inline constexpr std::int64_t timer_tolerance_ms = 31;

/// Largest share of their loop time that a run's workers may have been
/// neither running nor ready to run (see runnable_share): stopped by a
/// signal, a freezer or a debugger, a paused virtual machine, or blocked on
/// the console. Runs that were only busy (other programs, more threads than
/// processors, a CPU quota) read well under 1 % on a virtual machine of two
/// processors; a run stopped for a tenth of its loop reads 10 % and already
/// scores a tenth too low.
inline constexpr double max_stopped_share = 0.05;

/// Where the system does not tell how long a thread waited for a processor
/// (Windows, Linux kernels without scheduler statistics):
/// the smallest share of their loop time that the workers must have been
/// running (see running_share). Below it they were stopped or crowded out.
inline constexpr double min_running_share = 0.25;

/// How much of their timed loops the workers were running or waiting for a
/// processor: their processor and waiting times summed, over their loop
/// times by the fast timer summed. A busy machine leaves it at about 1, a
/// stopped process lowers it. Nothing when a worker's times are unknown or
/// no time was counted.
std::optional<double> runnable_share(const run_result& result);

/// How much of their timed loops the workers ran: the processor time of all
/// of them over min(threads, usable processors) times their mean loop time
/// by the fast timer. Nothing when a worker's processor time or the usable
/// processors are unknown, or when no loop or no processor time was counted.
std::optional<double> running_share(const run_result& result);

/// The three-line warning heading, on `err`.
void print_warning_box(std::ostream& err);

/// The three-line "invalid result" heading, on `err`.
void print_invalid_box(std::ostream& err);

/// Judges a run and prints its per-thread table and verdict: the table and a
/// valid result (with the version line, `cpu_brand` and the final score) on
/// `out`, every reason for an invalid result on `err`. Returns the score in
/// MGups for a valid run, nothing otherwise.
std::optional<double> report_result(const run_result& result, std::string_view cpu_brand,
                                    std::ostream& out, std::ostream& err);

}  // namespace tavro
