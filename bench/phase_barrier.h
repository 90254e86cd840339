#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tavro {

/// A reusable barrier for a fixed set of threads whose release lets every
/// waiter go at once: arrivals are counted under a mutex, but waiters sleep
/// on the phase number itself and leave without taking any lock, so that
/// the workers' timed loops start together even with more threads than
/// processors (a condition variable would hand its mutex to the waiters one
/// after another).
///
/// The optional completion runs once per phase, in the last arriving thread,
/// and every participant of that phase gets its answer. Deciding "go on or
/// stop" there gives all participants the same answer: a check made by each
/// thread after it wakes could see a stop that another thread requested
/// after the phase, and leave while the others wait for it at the next one.
class phase_barrier {
  public:
    explicit phase_barrier(std::uint32_t participants, std::function<bool()> completion = {})
        : expected_(participants), completion_(std::move(completion)) {}

    phase_barrier(const phase_barrier&) = delete;
    phase_barrier& operator=(const phase_barrier&) = delete;

    /// Blocks until every participant of the current phase has arrived;
    /// returns what the completion answered for this phase (false without one).
    bool arrive_and_wait();

    /// Leaves the barrier for good without waiting: this phase and later ones
    /// expect one participant fewer. Serves a participant that will never
    /// come (a worker thread that could not be started).
    void arrive_and_drop();

  private:
    /// Ends the phase; the caller holds the mutex and wakes the waiters
    /// after releasing it.
    void complete_phase_locked();

    std::mutex mutex_;
    std::uint32_t expected_;
    std::function<bool()> completion_;
    std::uint32_t arrived_ = 0;
    // Written under the mutex before the phase number moves on, read by the
    // waiters after they see it move: the next phase cannot complete before
    // every one of them has arrived there, so it stays in place until read.
    bool answer_ = false;
    std::atomic<std::uint32_t> phase_{0};
};

}  // namespace tavro
