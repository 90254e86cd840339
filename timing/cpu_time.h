#pragma once

#include <cstdint>

namespace tavro {

/// Processor time the calling thread has used since it started, in
/// microseconds (user and system time together); -1 when the system cannot
/// tell. Cheap enough to read at the start and end of a timed loop, not in it.
std::int64_t thread_cpu_time_us();

}  // namespace tavro
