#include "timing/cpu_time.h"

#include <charconv>
#include <limits>

namespace tavro {

std::int64_t schedstat_wait_ns(std::string_view text) {
    // "<running ns> <waiting ns> <time slices>\n"
    std::uint64_t values[3] = {};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (std::uint64_t& value : values) {
        const auto [next, error] = std::from_chars(at, end, value);
        if (error != std::errc{} || (next != end && *next != ' ' && *next != '\n')) {
            return -1;
        }
        at = next == end ? next : next + 1;
    }
    // A kernel that keeps no such statistics shows "0 0 0"; a thread that
    // has run at all has some running time.
    if (values[0] == 0 ||
        values[1] > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return -1;
    }
    return static_cast<std::int64_t>(values[1]);
}

}  // namespace tavro
