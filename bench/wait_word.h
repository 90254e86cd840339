#pragma once

#include <atomic>
#include <cstdint>

namespace tavro {

// Sleeping on a 32-bit word without a lock: the kernel's own wait queue on
// the word's address (a futex on Linux, WaitOnAddress on Windows). A wake
// makes every sleeper runnable at once; none of them has to take a lock
// before it can go on, so no sleeper waits behind another.

/// Sleeps while `word` holds `expected`. May return early without a wake;
/// callers check the word again.
void wait_while_equal(const std::atomic<std::uint32_t>& word, std::uint32_t expected);

/// Wakes every thread sleeping on `word`.
void wake_all_waiters(std::atomic<std::uint32_t>& word);

}  // namespace tavro
