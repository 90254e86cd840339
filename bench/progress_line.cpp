#include "bench/progress_line.h"

#include <algorithm>
#include <iterator>
#include <ostream>

#include <fmt/format.h>

namespace tavro {

namespace {

// Formats into `buffer`, whose inline storage holds the whole line: the
// reporter prints it once per iteration of its timed loop, without taking
// memory from the heap.
void format_progress_to(fmt::memory_buffer& buffer, std::int64_t elapsed_s,
                        std::uint64_t duration_s, const progress_table& table) {
    double total_rate = 0.0;
    std::uint64_t max_iterations = 0;
    for (std::uint32_t i = 0; i < table.size(); ++i) {
        total_rate += table[i].rate_mgups.load(std::memory_order_relaxed);
        max_iterations =
            std::max(max_iterations, table[i].iterations.load(std::memory_order_relaxed));
    }
    fmt::format_to(std::back_inserter(buffer),
                   "\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations", elapsed_s, duration_s,
                   total_rate, max_iterations);
}

}  // namespace

std::string format_progress(std::int64_t elapsed_s, std::uint64_t duration_s,
                            const progress_table& table) {
    fmt::memory_buffer buffer;
    format_progress_to(buffer, elapsed_s, duration_s, table);
    return fmt::to_string(buffer);
}

void print_progress(std::int64_t elapsed_s, std::uint64_t duration_s, const progress_table& table,
                    std::ostream& out) {
    fmt::memory_buffer buffer;
    format_progress_to(buffer, elapsed_s, duration_s, table);
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    out.flush();
}

}  // namespace tavro
