#include "machine/topology/placement.h"

#include <pthread.h>
#include <sched.h>

#include <limits>
#include <thread>

#include <gtest/gtest.h>

namespace tavro {
namespace {

std::vector<std::uint32_t> current_affinity() {
    cpu_set_t set;
    CPU_ZERO(&set);
    EXPECT_EQ(pthread_getaffinity_np(pthread_self(), sizeof set, &set), 0);
    std::vector<std::uint32_t> cpus;
    for (std::uint32_t cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) {
            cpus.push_back(cpu);
        }
    }
    return cpus;
}

logical_cpu on(std::uint32_t processor, std::uint16_t group = 0) {
    return {.index = 0, .core_id = 0, .processor = processor, .group = group};
}

// Each case runs on a thread of its own, so the test runner's thread stays unbound.
template <typename Body>
void on_new_thread(Body body) {
    std::thread thread(body);
    thread.join();
}

TEST(PlaceCurrentThread, BindsToTheSlotAndUnbindsWithoutOne) {
    const std::vector<std::uint32_t> allowed = startup_allowed_cpus();
    ASSERT_FALSE(allowed.empty());
    const std::uint32_t target = allowed.back();
    const thread_manager manager{.thread_count = 3, .slots = {on(target)}};
    on_new_thread([&] {
        place_current_thread(manager, 0);
        EXPECT_EQ(current_affinity(), std::vector<std::uint32_t>{target});
        EXPECT_EQ(static_cast<std::uint32_t>(sched_getcpu()), target);

        // A worker beyond the slots runs wherever the process may run, even
        // when the thread was bound before.
        place_current_thread(manager, 1);
        EXPECT_EQ(current_affinity(), allowed);
    });
}

TEST(PlaceCurrentThread, BogusProcessorLeavesTheThreadAsItWas) {
    const std::vector<std::uint32_t> before = current_affinity();
    on_new_thread([&] {
        for (const std::uint32_t bogus :
             {max_cpu_number, max_cpu_number + 1, std::numeric_limits<std::uint32_t>::max()}) {
            EXPECT_FALSE(bind_current_thread(on(bogus))) << bogus;
            place_current_thread({.thread_count = 1, .slots = {on(bogus)}}, 0);
            EXPECT_EQ(current_affinity(), before) << bogus;
        }
        EXPECT_FALSE(bind_current_thread(on(before.front(), 1)));  // no processor groups here
        EXPECT_EQ(current_affinity(), before);
        EXPECT_TRUE(bind_current_thread(on(before.front())));
        EXPECT_TRUE(unbind_current_thread());
        EXPECT_EQ(current_affinity(), before);
    });
}

}  // namespace
}  // namespace tavro
