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
};

/// Reads the control-group limits of the calling process from a file tree at
/// `root` ("/" on a live system): the mounts come from
/// root/proc/self/mountinfo, the process's groups from root/proc/self/cgroup,
/// and the group files (cgroup v2 memory.max, memory.current, cpu.max; v1
/// memory.limit_in_bytes, memory.usage_in_bytes, cpu.cfs_quota_us,
/// cpu.cfs_period_us) from the mount points below `root`. Files that are
/// missing or malformed limit nothing.
cgroup_limits read_cgroup_limits(const std::filesystem::path& root);

/// The control-group limits of this process; nothing limited on Windows.
cgroup_limits process_cgroup_limits();

/// The most threads one run may start: on Linux the smaller of the
/// kernel's thread limit (/proc/sys/kernel/threads-max) and the process's
/// RLIMIT_NPROC; on Windows as many thread stacks as the free address space
/// holds. 0 when nothing is known.
std::uint64_t system_thread_limit();

/// The smaller of two limits where 0 means none.
std::uint64_t smaller_limit(std::uint64_t a, std::uint64_t b);

/// A mount point or root field of /proc/self/mountinfo with its octal
/// escapes ("\040" for a blank) decoded.
std::string unescape_mount_field(std::string_view field);

}  // namespace tavro
