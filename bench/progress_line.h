#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "bench/run_result.h"

namespace tavro {

/// The progress text: a carriage return, the elapsed and total seconds, the
/// summed rate of all slots and the furthest iteration count. No line end.
std::string format_progress(std::int64_t elapsed_s, std::uint64_t duration_s,
                            const progress_table& table);

/// Writes the progress text to `out` and flushes it, so that each call
/// overwrites the previous line in place.
void print_progress(std::int64_t elapsed_s, std::uint64_t duration_s, const progress_table& table,
                    std::ostream& out);

}  // namespace tavro
