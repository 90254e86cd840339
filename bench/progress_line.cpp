#include "bench/progress_line.h"

#include <algorithm>
#include <iterator>

namespace tavro {

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

void print_progress(std::int64_t elapsed_s, std::uint64_t duration_s, const progress_table& table,
                    console_writer& console, bool line_end) {
    fmt::memory_buffer line;
    format_progress_to(line, elapsed_s, duration_s, table);
    console.write(console_writer::stream::out,
                  {std::string_view(line.data(), line.size()), line_end ? "\n" : ""});
}

std::string format_progress(std::int64_t elapsed_s, std::uint64_t duration_s,
                            const progress_table& table) {
    fmt::memory_buffer buffer;
    format_progress_to(buffer, elapsed_s, duration_s, table);
    return fmt::to_string(buffer);
}

}  // namespace tavro
