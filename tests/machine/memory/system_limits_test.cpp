#include "machine/memory/system_limits.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "tests/machine/fake_sysfs.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t mib = std::uint64_t{1} << 20;

using testing::fake_root;

const std::string v2_mount =
    "25 1 0:22 / / rw - ext4 /dev/root rw\n"
    "35 25 0:30 / /sys/fs/cgroup rw,nosuid shared:9 - cgroup2 cgroup2 rw,nsdelegate\n";

TEST(CgroupLimits, V2NestedGroupsGiveTheSmallestHeadroomAndQuota) {
    fake_root root;
    root.write("proc/self/mountinfo", v2_mount);
    root.write("proc/self/cgroup", "0::/user/bench\n");
    // The root group has no limit files; the parent limits memory to 2 GiB
    // with 1.25 GiB used, of which 512 MiB is inactive file cache.
    root.write("sys/fs/cgroup/cgroup.procs", "1\n");
    root.write("sys/fs/cgroup/user/memory.max", std::to_string(2048 * mib) + "\n");
    root.write("sys/fs/cgroup/user/memory.current", std::to_string(1280 * mib) + "\n");
    root.write("sys/fs/cgroup/user/memory.stat",
               "anon 1000\nfile 2000\ninactive_file " + std::to_string(512 * mib) + "\n");
    root.write("sys/fs/cgroup/user/cpu.max", "max 100000\n");
    root.write("sys/fs/cgroup/user/bench/memory.max", "max\n");
    root.write("sys/fs/cgroup/user/bench/memory.current", std::to_string(100 * mib) + "\n");
    root.write("sys/fs/cgroup/user/bench/cpu.max", "250000 100000\n");
    // Tasks: the parent allows 100 with 95 in use, the group itself 10 with 2.
    root.write("sys/fs/cgroup/user/pids.max", "100\n");
    root.write("sys/fs/cgroup/user/pids.current", "95\n");
    root.write("sys/fs/cgroup/user/bench/pids.max", "10\n");
    root.write("sys/fs/cgroup/user/bench/pids.current", "2\n");

    cgroup_limits limits = read_cgroup_limits(root.path());
    EXPECT_EQ(limits.memory_headroom, (2048 - 1280 + 512) * mib);
    EXPECT_EQ(limits.cpu_quota, 2u);  // 2.5 CPUs: two whole ones
    EXPECT_EQ(limits.task_headroom, 5u);
    root.write("sys/fs/cgroup/user/pids.max", "max\n");
    EXPECT_EQ(read_cgroup_limits(root.path()).task_headroom, 8u);

    // A tighter inner limit wins; a group over its limit leaves nothing; a
    // quota below one CPU still allows one.
    root.write("sys/fs/cgroup/user/bench/memory.max", std::to_string(800 * mib));
    root.write("sys/fs/cgroup/user/bench/cpu.max", "50000 100000");
    limits = read_cgroup_limits(root.path());
    EXPECT_EQ(limits.memory_headroom, 700 * mib);
    EXPECT_EQ(limits.cpu_quota, 1u);
    root.write("sys/fs/cgroup/user/bench/memory.current", std::to_string(900 * mib));
    EXPECT_EQ(read_cgroup_limits(root.path()).memory_headroom, 0u);
}

TEST(CgroupLimits, V1ControllersOnTheirOwnMountsSeenFromAContainer) {
    fake_root root;
    // The mounts show the container's own group (root field /docker/c1) at
    // the mount point; a mount point with a blank comes escaped.
    root.write("proc/self/mountinfo",
               v2_mount +
                   "40 35 0:33 /docker/c1 /sys/fs/cgroup/memory\\040ctl rw - cgroup cgroup "
                   "rw,memory\n"
                   "41 35 0:34 /docker/c1 /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup "
                   "rw,cpu,cpuacct\n"
                   "42 35 0:35 / /sys/fs/cgroup/cpuset rw - cgroup cgroup rw,cpuset\n"
                   "43 35 0:36 / /sys/fs/cgroup/pids rw - cgroup cgroup rw,pids\n");
    root.write("proc/self/cgroup",
               "12:cpuset:/docker/c1\n9:memory:/docker/c1/job\n3:cpu,cpuacct:/docker/c1\n"
               "2:pids:/docker/c1\n0::/\n");
    root.write("sys/fs/cgroup/pids/docker/c1/pids.max", "10\n");
    root.write("sys/fs/cgroup/pids/docker/c1/pids.current", "12\n");
    root.write("sys/fs/cgroup/memory ctl/memory.limit_in_bytes", "9223372036854771712\n");
    root.write("sys/fs/cgroup/memory ctl/job/memory.limit_in_bytes",
               std::to_string(800 * mib) + "\n");
    root.write("sys/fs/cgroup/memory ctl/job/memory.usage_in_bytes",
               std::to_string(300 * mib) + "\n");
    root.write("sys/fs/cgroup/memory ctl/job/memory.stat",
               "cache 5\ninactive_file 7\ntotal_inactive_file " + std::to_string(100 * mib) + "\n");
    root.write("sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "400000\n");
    root.write("sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n");

    cgroup_limits limits = read_cgroup_limits(root.path());
    EXPECT_EQ(limits.memory_headroom, 600 * mib);
    EXPECT_EQ(limits.cpu_quota, 4u);
    EXPECT_EQ(limits.task_headroom, 0u);  // over its limit: no task more

    root.write("sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1\n");
    root.write("sys/fs/cgroup/memory ctl/job/memory.limit_in_bytes", "9223372036854771712\n");
    limits = read_cgroup_limits(root.path());
    EXPECT_EQ(limits.memory_headroom, std::nullopt);
    EXPECT_EQ(limits.cpu_quota, std::nullopt);
}

TEST(CgroupLimits, UnlimitedUnreadableOrForeignGroupsLimitNothing) {
    fake_root root;
    EXPECT_EQ(read_cgroup_limits(root.path()).memory_headroom, std::nullopt);  // no /proc

    root.write("proc/self/mountinfo", v2_mount);
    root.write("proc/self/cgroup", "0::/a\n");
    root.write("sys/fs/cgroup/a/memory.max", "max\n");
    root.write("sys/fs/cgroup/a/memory.current", "12345\n");
    root.write("sys/fs/cgroup/a/cpu.max", "max 100000\n");
    cgroup_limits limits = read_cgroup_limits(root.path());
    EXPECT_EQ(limits.memory_headroom, std::nullopt);
    EXPECT_EQ(limits.cpu_quota, std::nullopt);

    root.write("sys/fs/cgroup/a/memory.max", "12x\n");
    root.write("sys/fs/cgroup/a/cpu.max", "100000 0\n");
    limits = read_cgroup_limits(root.path());
    EXPECT_EQ(limits.memory_headroom, std::nullopt);
    EXPECT_EQ(limits.cpu_quota, std::nullopt);

    // A group outside the mount's view ("..") is read at the mount point,
    // never above it.
    root.write("proc/self/cgroup", "0::/../../elsewhere\n");
    root.write("sys/fs/cgroup/memory.max", std::to_string(64 * mib));
    root.write("sys/memory.max", "1");
    EXPECT_EQ(read_cgroup_limits(root.path()).memory_headroom, 64 * mib);

    // No cgroup2 mount for the unified line: nothing to read.
    root.write("proc/self/mountinfo", "25 1 0:22 / / rw - ext4 /dev/root rw\n");
    EXPECT_EQ(read_cgroup_limits(root.path()).memory_headroom, std::nullopt);
}

TEST(SystemLimits, ThreadCapTakesOnlyLimitsTheKernelEnforces) {
    EXPECT_EQ(run_thread_cap(
                  {.threads_max = 96000, .nproc = 1, .nproc_enforced = true, .task_headroom = {}}),
              1u);
    EXPECT_EQ(run_thread_cap(
                  {.threads_max = 96000, .nproc = 1, .nproc_enforced = false, .task_headroom = {}}),
              96000u);
    // The pids headroom is for new tasks; the calling thread exists already.
    EXPECT_EQ(run_thread_cap({.threads_max = 96000, .task_headroom = 8}), 9u);
    EXPECT_EQ(run_thread_cap({.task_headroom = 0}), 1u);
    EXPECT_EQ(run_thread_cap({}), 0u);

    // Root, or CAP_SYS_ADMIN (21) or CAP_SYS_RESOURCE (24), in the initial
    // user namespace is exempt; a container's own root is not.
    EXPECT_FALSE(nproc_enforced(true, 0, 0));
    EXPECT_FALSE(nproc_enforced(true, 1000, std::uint64_t{1} << 21));
    EXPECT_FALSE(nproc_enforced(true, 1000, std::uint64_t{1} << 24));
    EXPECT_TRUE(nproc_enforced(true, 1000, 0x1fffffffffull & ~((1ull << 21) | (1ull << 24))));
    EXPECT_TRUE(nproc_enforced(false, 0, 0x1ffffffffffull));

    const std::string status =
        "Name:\ttavro\nCapInh:\t0000000000000000\nCapEff:\t000001ffffffffff\n";
    EXPECT_EQ(status_mask(status, "CapEff"), 0x1ffffffffffull);
    EXPECT_EQ(status_mask(status, "CapInh"), 0u);
    EXPECT_EQ(status_mask(status, "Cap"), 0u);
    EXPECT_EQ(status_mask("CapEff:\tzz\n", "CapEff"), 0u);
    EXPECT_TRUE(is_initial_uid_map("         0          0 4294967295\n"));
    EXPECT_FALSE(is_initial_uid_map("         0     100000      65536\n"));
    EXPECT_FALSE(is_initial_uid_map(""));
}

TEST(SystemLimits, AddressSpaceCountsStacksAndArenasOfNewThreads) {
    const address_space_facts facts{192 * mib, 8 * mib, 64 * mib, 16};
    // Four threads at N = 64 (17.56 MiB of grids each): 70 MiB of grids,
    // but 358 MiB with their stacks and arenas and the reserve.
    const std::uint64_t grid = 2 * 2247 * 4096;
    EXPECT_EQ(address_space_need(4, grid, facts, 0), 4 * (grid + 8 * mib) + 4 * 64 * mib + 4 * mib);
    // Arenas that earlier runs made are mapped already; no more than the
    // allocator's limit are ever made.
    EXPECT_EQ(address_space_need(4, grid, facts, 3), 4 * (grid + 8 * mib) + 64 * mib + 4 * mib);
    EXPECT_EQ(address_space_need(20, 0, facts, 0), 20 * 8 * mib + 16 * 64 * mib + 4 * mib);
    EXPECT_EQ(address_space_need(std::uint64_t{1} << 62, grid, facts, 0),
              std::numeric_limits<std::uint64_t>::max());
}

TEST(SystemLimits, SmallerLimitAndMountFieldsAndThisMachine) {
    EXPECT_EQ(smaller_limit(0, 0), 0u);
    EXPECT_EQ(smaller_limit(0, 7), 7u);
    EXPECT_EQ(smaller_limit(9, 0), 9u);
    EXPECT_EQ(smaller_limit(9, 7), 7u);
    EXPECT_EQ(unescape_mount_field("/a\\040b\\011c\\\\d\\08"), "/a b\tc\\\\d\\08");

    const std::uint64_t threads = system_thread_limit();
    EXPECT_GT(threads, 1u);
    const cgroup_limits live = process_cgroup_limits();
    if (live.cpu_quota) {
        EXPECT_GE(*live.cpu_quota, 1u);
    }
}

}  // namespace
}  // namespace tavro
