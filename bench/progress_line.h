#pragma once

#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "bench/console_writer.h"
#include "bench/run_result.h"

namespace tavro {

/// Appends the progress text to `buffer`: a carriage return, the elapsed and
/// total seconds, the summed rate of all slots and the furthest iteration
/// count, without a line end, so that each line written overwrites the one
/// before. The buffer's inline storage holds the whole line: the reporter
/// formats it once per round of its timed loop without taking memory from
/// the heap.
void format_progress_to(fmt::memory_buffer& buffer, std::int64_t elapsed_s,
                        std::uint64_t duration_s, const progress_table& table);

/// Hands the progress text to `console` for standard output, followed by a
/// line end when `line_end` is set; each text written overwrites the one
/// before on a terminal. Formatted on the stack.
void print_progress(std::int64_t elapsed_s, std::uint64_t duration_s, const progress_table& table,
                    console_writer& console, bool line_end = false);

/// The progress text as a string.
std::string format_progress(std::int64_t elapsed_s, std::uint64_t duration_s,
                            const progress_table& table);

}  // namespace tavro
