#include "bench/progress_line.h"

#include <algorithm>
#include <ostream>

#include <fmt/format.h>

namespace tavro {

std::string format_progress(std::int64_t elapsed_s, std::uint64_t duration_s,
                            const progress_table& table) {
    double total_rate = 0.0;
    std::uint64_t max_iterations = 0;
    for (std::uint32_t i = 0; i < table.size(); ++i) {
        total_rate += table[i].rate_mgups.load(std::memory_order_relaxed);
        max_iterations =
            std::max(max_iterations, table[i].iterations.load(std::memory_order_relaxed));
    }
    return fmt::format("\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations", elapsed_s,
                       duration_s, total_rate, max_iterations);
}

void print_progress(std::int64_t elapsed_s, std::uint64_t duration_s, const progress_table& table,
                    std::ostream& out) {
    out << format_progress(elapsed_s, duration_s, table) << std::flush;
}

}  // namespace tavro
