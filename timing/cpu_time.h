#pragma once

#include <cstdint>
#include <string_view>

namespace tavro {

/// What the system tells of the calling thread's time since it started, in
/// microseconds; each figure is -1 when the system cannot tell. Cheap enough
/// to read at the start and end of a timed loop, not in it.
struct thread_times {
    /// Processor time used, user and system together.
    std::int64_t running_us = -1;
    /// Time spent ready to run but waiting for a processor (Linux only).
    std::int64_t waiting_us = -1;
};

thread_times read_thread_times();

/// The second number (the run-queue wait, in nanoseconds) of a schedstat
/// line such as "1234 5678 9"; -1 when the text is not such a line or its
/// running time is 0 (statistics that are not kept).
std::int64_t schedstat_wait_ns(std::string_view text);

}  // namespace tavro
