#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include "bench/wait_word.h"

namespace tavro {

namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
              std::atomic<std::uint32_t>::is_always_lock_free);

// The futex word is the atomic's own storage; the kernel compares it with
// the expected value under its queue lock, so a wake between our check and
// the sleep is never lost.
std::uint32_t* futex_word(const std::atomic<std::uint32_t>& word) {
    return const_cast<std::uint32_t*>(reinterpret_cast<const std::uint32_t*>(&word));
}

}  // namespace

void wait_while_equal(const std::atomic<std::uint32_t>& word, std::uint32_t expected) {
    // EAGAIN (the word changed) and EINTR both return to the caller's check.
    syscall(SYS_futex, futex_word(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void wake_all_waiters(std::atomic<std::uint32_t>& word) {
    syscall(SYS_futex, futex_word(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace tavro
