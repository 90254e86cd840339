#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavro {

/// What the control groups of a process allow it, over every group from its
/// own up to the root of each hierarchy.
struct cgroup_limits {
    /// Bytes the process may still use before a group's memory limit: the
    /// smallest limit minus usage (reclaimable file cache not counted as
    /// used). Absent when no group limits memory.
    std::optional<std::uint64_t> memory_headroom;
    /// Whole CPUs of the smallest CPU quota, at least 1. Absent without one.
    std::optional<std::uint32_t> cpu_quota;
    /// Tasks (processes and threads) the process may still start before a
    /// group's pids limit: the smallest limit minus the group's current
    /// count. Absent when no group limits tasks.
    std::optional<std::uint64_t> task_headroom;
};

/// Reads the control-group limits of the calling process from a file tree at
/// `root` ("/" on a live system): the mounts come from
/// root/proc/self/mountinfo, the process's groups from root/proc/self/cgroup,
/// and the group files (cgroup v2 memory.max, memory.current, cpu.max; v1
/// memory.limit_in_bytes, memory.usage_in_bytes, cpu.cfs_quota_us,
/// cpu.cfs_period_us; pids.max and pids.current in both) from the mount
/// points below `root`. Files that are missing or malformed limit nothing.
cgroup_limits read_cgroup_limits(const std::filesystem::path& root);

/// The control-group limits of this process; nothing limited on Windows.
cgroup_limits process_cgroup_limits();

/// What bounds the number of threads a process can have on Linux.
struct thread_limit_facts {
    /// The kernel's system-wide task limit (/proc/sys/kernel/threads-max); 0 unknown.
    std::uint64_t threads_max = 0;
    /// The soft RLIMIT_NPROC; 0 for none.
    std::uint64_t nproc = 0;
    /// Whether the kernel holds this process to RLIMIT_NPROC (see nproc_enforced).
    bool nproc_enforced = true;
    /// cgroup_limits::task_headroom.
    std::optional<std::uint64_t> task_headroom;
};

/// The most threads one run may have, the calling thread among them: the
/// smallest of threads-max, RLIMIT_NPROC where it is enforced, and the
/// control groups' task headroom plus the calling thread. 0 when nothing is
/// known.
std::uint64_t run_thread_cap(const thread_limit_facts& facts);

/// Whether the kernel enforces RLIMIT_NPROC on a process: not for the root
/// user of the initial user namespace, nor for a process holding
/// CAP_SYS_RESOURCE or CAP_SYS_ADMIN there. `real_uid` is the process's real
/// user id, `capabilities` its effective capability mask (CapEff).
bool nproc_enforced(bool initial_user_namespace, std::uint64_t real_uid,
                    std::uint64_t capabilities);

/// The hexadecimal mask of the line "`key`:" in the text of
/// /proc/self/status (for example "CapEff"); 0 when missing or malformed.
std::uint64_t status_mask(std::string_view status_text, std::string_view key);

/// Whether the text of /proc/self/uid_map is the identity mapping of every
/// user id, which only the initial user namespace has.
bool is_initial_uid_map(std::string_view uid_map_text);

/// The most threads one run may have (see run_thread_cap), read afresh: on
/// Linux from the kernel, the resource limits and the control groups; on
/// Windows as many thread stacks as the free address space holds. 0 when
/// nothing is known.
std::uint64_t system_thread_limit();

/// What a limit on the process's address space (`ulimit -v`, RLIMIT_AS)
/// leaves a run, and what each of its threads takes of it besides its grids.
struct address_space_facts {
    /// Bytes the process may still map; absent without a limit.
    std::optional<std::uint64_t> left;
    /// A new thread's stack with its guard page.
    std::uint64_t thread_stack = 0;
    /// The allocator arena that a new thread's first allocation may map.
    std::uint64_t arena = 0;
    /// The most arenas the allocator makes besides the main one; 0 for none.
    std::uint64_t arena_limit = 0;
};

/// Address space that `threads` new threads with `grid_bytes` of grids each
/// need: their grids and stacks, an arena for each of the first
/// arena_limit of them less the `arenas_made` by threads of earlier runs
/// (which new threads take over), and the process reserve of the memory
/// guard. The
/// largest value when the sum does not fit in 64 bits.
std::uint64_t address_space_need(std::uint64_t threads, std::uint64_t grid_bytes,
                                 const address_space_facts& facts, std::uint64_t arenas_made);

/// The address-space facts of this process, read afresh: on Linux
/// RLIMIT_AS less the size mapped now (VmSize), the default thread stack
/// and the C library's arenas (64 MiB, at most 8 per processor); on
/// Windows no limit.
address_space_facts process_address_space();

/// The smaller of two limits where 0 means none.
std::uint64_t smaller_limit(std::uint64_t a, std::uint64_t b);

/// A mount point or root field of /proc/self/mountinfo with its octal
/// escapes ("\040" for a blank) decoded.
std::string unescape_mount_field(std::string_view field);

}  // namespace tavro
