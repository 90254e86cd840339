#include "bench/wait_word.h"
#include "machine/win32_support.h"

namespace tavro {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
              std::atomic<std::uint32_t>::is_always_lock_free);

// WaitOnAddress compares the word with the expected value itself, so a wake
// between our check and the sleep is never lost.
void wait_while_equal(const std::atomic<std::uint32_t>& word, std::uint32_t expected) {
    WaitOnAddress(const_cast<std::atomic<std::uint32_t>*>(&word), &expected, sizeof expected,
                  INFINITE);
}

void wake_all_waiters(std::atomic<std::uint32_t>& word) {
    WakeByAddressAll(&word);
}

}  // namespace tavro
