#include "bench/phase_barrier.h"

namespace tavro {

void phase_barrier::complete_phase_locked() {
    arrived_ = 0;
    ++phase_;
    phase_done_.notify_all();
}

void phase_barrier::arrive_and_wait() {
    std::unique_lock lock(mutex_);
    ++arrived_;
    if (arrived_ >= expected_) {
        complete_phase_locked();
        return;
    }
    const std::uint64_t phase = phase_;
    phase_done_.wait(lock, [&] { return phase_ != phase; });
}

void phase_barrier::arrive_and_drop() {
    std::lock_guard lock(mutex_);
    --expected_;
    if (arrived_ >= expected_) {
        complete_phase_locked();
    }
}

}  // namespace tavro
