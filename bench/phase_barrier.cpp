#include "bench/phase_barrier.h"

namespace tavro {

void phase_barrier::complete_phase_locked() {
    answer_ = completion_ ? completion_() : false;
    arrived_ = 0;
    ++phase_;
    phase_done_.notify_all();
}

bool phase_barrier::arrive_and_wait() {
    std::unique_lock lock(mutex_);
    ++arrived_;
    if (arrived_ >= expected_) {
        complete_phase_locked();
        return answer_;
    }
    // The answer stays in place until this thread has read it: the next
    // phase cannot complete before this thread arrives there too.
    const std::uint64_t phase = phase_;
    phase_done_.wait(lock, [&] { return phase_ != phase; });
    return answer_;
}

void phase_barrier::arrive_and_drop() {
    std::lock_guard lock(mutex_);
    if (expected_ == 0) {
        return;
    }
    --expected_;
    if (arrived_ > 0 && arrived_ >= expected_) {
        complete_phase_locked();
    }
}

}  // namespace tavro
