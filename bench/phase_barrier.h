#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tavro {

/// A reusable barrier for a fixed set of threads, built from a mutex and a
/// condition variable so that it behaves the same with every standard
/// library the program is built with.
class phase_barrier {
public:
    explicit phase_barrier(std::uint32_t participants) : expected_(participants) {}

    phase_barrier(const phase_barrier&) = delete;
    phase_barrier& operator=(const phase_barrier&) = delete;

    /// Blocks until every participant of the current phase has arrived.
    void arrive_and_wait();

    /// Arrives for the current phase without waiting and leaves the barrier:
    /// later phases expect one participant fewer. Serves a participant that
    /// will never come (a worker thread that could not be started).
    void arrive_and_drop();

private:
    void complete_phase_locked();

    std::mutex mutex_;
    std::condition_variable phase_done_;
    std::uint32_t expected_;
    std::uint32_t arrived_ = 0;
    std::uint64_t phase_ = 0;
};

}  // namespace tavro
