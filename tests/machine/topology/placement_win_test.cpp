#include "machine/topology/placement.h"

#include <thread>

#include <gtest/gtest.h>

#include "machine/win32_support.h"

namespace tavro {
namespace {

GROUP_AFFINITY current_affinity() {
    GROUP_AFFINITY affinity{};
    EXPECT_NE(GetThreadGroupAffinity(GetCurrentThread(), &affinity), 0);
    return affinity;
}

// Each case runs on a thread of its own, so the test runner's thread stays unbound.
template <typename Body>
void on_new_thread(Body body) {
    std::thread thread(body);
    thread.join();
}

TEST(PlaceCurrentThread, WithoutASlotNothingIsBoundOrUnbound) {
    const logical_cpu first{.index = 0, .core_id = 0, .processor = 0, .group = 0};
    const thread_manager manager{.thread_count = 2, .slots = {first}};
    const GROUP_AFFINITY before = current_affinity();
    on_new_thread([&] {
        place_current_thread(manager, 0);
        EXPECT_EQ(current_affinity().Mask, KAFFINITY{1});

        // A bound thread without a slot keeps what it has: the affinity of a
        // Windows thread is never set to one group's set on its behalf.
        place_current_thread(manager, 1);
        EXPECT_EQ(current_affinity().Mask, KAFFINITY{1});
        EXPECT_TRUE(unbind_current_thread());
        EXPECT_EQ(current_affinity().Mask, KAFFINITY{1});

        // A thread started by the bound one is not bound: it starts with the
        // process's affinity, and "os" (no slot) leaves it there.
        on_new_thread([&] {
            place_current_thread(thread_manager{.thread_count = 2, .slots = {}}, 1);
            EXPECT_EQ(current_affinity().Mask, before.Mask);
        });
    });
    EXPECT_EQ(current_affinity().Mask, before.Mask);
}

}  // namespace
}  // namespace tavro
