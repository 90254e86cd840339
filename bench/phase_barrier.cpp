#include "bench/phase_barrier.h"

#include "bench/wait_word.h"

namespace tavro {

void phase_barrier::complete_phase_locked() {
    answer_ = completion_ ? completion_() : false;
    arrived_ = 0;
    phase_.store(phase_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool phase_barrier::arrive_and_wait() {
    std::unique_lock lock(mutex_);
    const std::uint32_t phase = phase_.load(std::memory_order_relaxed);
    if (++arrived_ >= expected_) {
        complete_phase_locked();
        const bool answer = answer_;
        // The waiters take no lock when they wake, but they need not meet a
        // held one on their way either.
        lock.unlock();
        wake_all_waiters(phase_);
        return answer;
    }
    lock.unlock();
    while (phase_.load(std::memory_order_acquire) == phase) {
        wait_while_equal(phase_, phase);
    }
    return answer_;
}

void phase_barrier::arrive_and_drop() {
    std::unique_lock lock(mutex_);
    if (expected_ == 0) {
        return;
    }
    --expected_;
    if (arrived_ > 0 && arrived_ >= expected_) {
        complete_phase_locked();
        lock.unlock();
        wake_all_waiters(phase_);
    }
}

}  // namespace tavro
