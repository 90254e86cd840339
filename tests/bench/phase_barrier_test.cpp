#include "bench/phase_barrier.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(PhaseBarrier, EveryPhaseWaitsForAllAndGivesAllTheSameAnswer) {
    constexpr std::uint32_t threads = 12;
    constexpr std::uint32_t phases = 300;
    std::atomic<std::uint32_t> completions{0};
    // Stop is answered at every third phase; the completion runs before any
    // participant leaves, so it sees every arrival of its phase.
    std::atomic<std::uint32_t> arrivals{0};
    std::atomic<std::uint32_t> wrong{0};
    phase_barrier barrier(threads, [&] {
        const std::uint32_t phase = completions.fetch_add(1);
        if (arrivals.load() != (phase + 1) * threads) {
            wrong.fetch_add(1);
        }
        return phase % 3 == 0;
    });
    std::vector<std::thread> workers;
    for (std::uint32_t t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (std::uint32_t phase = 0; phase < phases; ++phase) {
                arrivals.fetch_add(1);
                const bool answer = barrier.arrive_and_wait();
                // Every arrival of the phase comes before anyone leaves it,
                // and all participants get the same answer.
                if (answer != (phase % 3 == 0) || arrivals.load() < (phase + 1) * threads) {
                    wrong.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    EXPECT_EQ(completions.load(), phases);
    EXPECT_EQ(wrong.load(), 0u);
}

TEST(PhaseBarrier, DroppedParticipantsReleaseTheOthers) {
    // Three expected, one never comes: the two waiting are let go when it
    // drops out, and later phases need only the two.
    phase_barrier barrier(3);
    std::atomic<std::uint32_t> passed{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 2; ++t) {
        workers.emplace_back([&] {
            for (int phase = 0; phase < 50; ++phase) {
                EXPECT_FALSE(barrier.arrive_and_wait());
                passed.fetch_add(1);
            }
        });
    }
    barrier.arrive_and_drop();
    for (std::thread& w : workers) {
        w.join();
    }
    EXPECT_EQ(passed.load(), 100u);

    // Dropping below zero participants is harmless.
    phase_barrier empty(1);
    empty.arrive_and_drop();
    empty.arrive_and_drop();
}

}  // namespace
}  // namespace tavro
