#include "machine/memory/system_limits.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>
#include <vector>

#include "machine/memory/memory.h"
#include "machine/text_file.h"

namespace tavro {

namespace {

namespace fs = std::filesystem;

// A v1 memory limit this large is the kernel's "no limit" value, which
// depends on the page size (9223372036854771712 with 4 KiB pages).
constexpr std::uint64_t v1_unlimited_memory = std::uint64_t{1} << 62;

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(end + 1);
    }
}

bool contains(const std::vector<std::string_view>& items, std::string_view item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

// The value of the line "`key` <number>" of a memory.stat file.
std::optional<std::uint64_t> stat_value(const fs::path& path, std::string_view key) {
    const std::optional<std::string> text = read_text_file(path);
    if (!text) {
        return std::nullopt;
    }
    for (std::string_view line : split(*text, '\n')) {
        const std::vector<std::string_view> words = split(trim_blanks(line), ' ');
        if (words.size() == 2 && words[0] == key) {
            return parse_number<std::uint64_t>(words[1]);
        }
    }
    return std::nullopt;
}

enum class cgroup_version { v1, v2 };

/// One hierarchy the process belongs to: where it is mounted, which of its
/// directories the mount shows, and the process's group in it.
struct hierarchy {
    cgroup_version version = cgroup_version::v2;
    std::string mount_point;
    std::string mount_root;
    std::string group;
};

struct mount_entry {
    std::string root;
    std::string mount_point;
    std::string fs_type;
    std::vector<std::string> super_options;
};

std::vector<mount_entry> parse_mountinfo(std::string_view text) {
    std::vector<mount_entry> mounts;
    for (std::string_view line : split(text, '\n')) {
        const std::vector<std::string_view> fields = split(trim_blanks(line), ' ');
        // id parent major:minor root mount-point options [optional...] - type source super
        const auto dash = std::find(fields.begin(), fields.end(), "-");
        if (dash - fields.begin() < 6 || fields.end() - dash < 4) {
            continue;
        }
        mount_entry entry;
        entry.root = unescape_mount_field(fields[3]);
        entry.mount_point = unescape_mount_field(fields[4]);
        entry.fs_type = std::string(dash[1]);
        for (std::string_view option : split(dash[3], ',')) {
            entry.super_options.emplace_back(option);
        }
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

// The hierarchies that carry `controller` (v1) and the unified one (v2).
std::vector<hierarchy> find_hierarchies(const std::vector<mount_entry>& mounts,
                                        std::string_view proc_cgroup, std::string_view controller) {
    std::vector<hierarchy> found;
    for (std::string_view line : split(proc_cgroup, '\n')) {
        // hierarchy-id:controllers:path; the path may itself hold ':'.
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const std::string_view id = line.substr(0, first);
        const std::vector<std::string_view> controllers =
            split(line.substr(first + 1, second - first - 1), ',');
        const std::string group(trim_blanks(line.substr(second + 1)));
        const bool unified = id == "0" && controllers.size() == 1 && controllers[0].empty();
        if (!unified && !contains(controllers, controller)) {
            continue;
        }
        for (const mount_entry& mount : mounts) {
            const bool matches =
                unified ? mount.fs_type == "cgroup2"
                        : mount.fs_type == "cgroup" &&
                              std::find(mount.super_options.begin(), mount.super_options.end(),
                                        controller) != mount.super_options.end();
            if (matches) {
                found.push_back({unified ? cgroup_version::v2 : cgroup_version::v1,
                                 mount.mount_point, mount.root, group});
                break;
            }
        }
    }
    return found;
}

// The directories of the process's group and of every parent up to the
// mount point, innermost first. The group path is relative to the root of
// the hierarchy, of which the mount may show only a subtree; a group outside
// that subtree (or a path with "..", as a group outside the reader's
// namespace shows) is represented by the mount point alone.
std::vector<fs::path> group_directories(const fs::path& root, const hierarchy& h) {
    std::vector<std::string_view> group = split(h.group, '/');
    std::vector<std::string_view> mount_root = split(h.mount_root, '/');
    const auto drop_empty = [](std::vector<std::string_view>& parts) {
        parts.erase(std::remove(parts.begin(), parts.end(), std::string_view{}), parts.end());
    };
    drop_empty(group);
    drop_empty(mount_root);
    const bool inside = group.size() >= mount_root.size() &&
                        std::equal(mount_root.begin(), mount_root.end(), group.begin());
    if (!inside || contains(group, "..") || contains(group, ".")) {
        group.clear();
    } else {
        group.erase(group.begin(), group.begin() + static_cast<std::ptrdiff_t>(mount_root.size()));
    }
    fs::path dir = root / fs::path(h.mount_point).relative_path();
    std::vector<fs::path> dirs{dir};
    for (std::string_view part : group) {
        dir /= fs::path(std::string(part));
        dirs.push_back(dir);
    }
    std::reverse(dirs.begin(), dirs.end());
    return dirs;
}

std::optional<std::uint64_t> memory_headroom_of(const fs::path& dir, cgroup_version version) {
    const bool v2 = version == cgroup_version::v2;
    // v2's "max" does not parse as a number and so limits nothing; v1 writes
    // its "no limit" as a huge number.
    const std::optional<std::uint64_t> limit =
        read_number_file<std::uint64_t>(dir / (v2 ? "memory.max" : "memory.limit_in_bytes"));
    if (!limit || (!v2 && *limit >= v1_unlimited_memory)) {
        return std::nullopt;
    }
    const std::uint64_t usage =
        read_number_file<std::uint64_t>(dir / (v2 ? "memory.current" : "memory.usage_in_bytes"))
            .value_or(0);
    // Inactive file cache is given back when the group needs the memory.
    const std::uint64_t reclaimable =
        stat_value(dir / "memory.stat", v2 ? "inactive_file" : "total_inactive_file").value_or(0);
    const std::uint64_t used = usage - std::min(usage, reclaimable);
    return *limit > used ? *limit - used : 0;
}

std::optional<std::uint32_t> cpu_quota_of(const fs::path& dir, cgroup_version version) {
    std::optional<std::uint64_t> quota;
    std::optional<std::uint64_t> period;
    if (version == cgroup_version::v2) {
        // "max 100000" (no quota) or "150000 100000".
        const std::optional<std::string> text = read_text_file(dir / "cpu.max");
        if (!text) {
            return std::nullopt;
        }
        const std::vector<std::string_view> words = split(trim_blanks(*text), ' ');
        if (words.size() != 2) {
            return std::nullopt;
        }
        quota = parse_number<std::uint64_t>(words[0]);
        period = parse_number<std::uint64_t>(words[1]);
    } else {
        // -1 means no quota; it does not parse as unsigned.
        quota = read_number_file<std::uint64_t>(dir / "cpu.cfs_quota_us");
        period = read_number_file<std::uint64_t>(dir / "cpu.cfs_period_us");
    }
    if (!quota || !period || *period == 0 || *quota == 0) {
        return std::nullopt;
    }
    const std::uint64_t cpus = std::max<std::uint64_t>(1, *quota / *period);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(cpus, UINT32_MAX));
}

// Tasks the group still allows; v1 and v2 share the files, and "max"
// (no limit) does not parse as a number.
std::optional<std::uint64_t> task_headroom_of(const fs::path& dir) {
    const std::optional<std::uint64_t> limit = read_number_file<std::uint64_t>(dir / "pids.max");
    if (!limit) {
        return std::nullopt;
    }
    const std::uint64_t current = read_number_file<std::uint64_t>(dir / "pids.current").value_or(0);
    return *limit > current ? *limit - current : 0;
}

template <class T>
void take_smaller(std::optional<T>& current, const std::optional<T>& candidate) {
    if (candidate && (!current || *candidate < *current)) {
        current = candidate;
    }
}

}  // namespace

std::string unescape_mount_field(std::string_view field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

cgroup_limits read_cgroup_limits(const std::filesystem::path& root) {
    cgroup_limits limits;
    const std::optional<std::string> mountinfo = read_text_file(root / "proc/self/mountinfo");
    const std::optional<std::string> proc_cgroup = read_text_file(root / "proc/self/cgroup");
    if (!mountinfo || !proc_cgroup) {
        return limits;
    }
    const std::vector<mount_entry> mounts = parse_mountinfo(*mountinfo);
    for (const hierarchy& h : find_hierarchies(mounts, *proc_cgroup, "memory")) {
        for (const fs::path& dir : group_directories(root, h)) {
            take_smaller(limits.memory_headroom, memory_headroom_of(dir, h.version));
        }
    }
    for (const hierarchy& h : find_hierarchies(mounts, *proc_cgroup, "cpu")) {
        for (const fs::path& dir : group_directories(root, h)) {
            take_smaller(limits.cpu_quota, cpu_quota_of(dir, h.version));
        }
    }
    for (const hierarchy& h : find_hierarchies(mounts, *proc_cgroup, "pids")) {
        for (const fs::path& dir : group_directories(root, h)) {
            take_smaller(limits.task_headroom, task_headroom_of(dir));
        }
    }
    return limits;
}

std::uint64_t run_thread_cap(const thread_limit_facts& facts) {
    std::uint64_t cap = facts.threads_max;
    if (facts.nproc_enforced) {
        cap = smaller_limit(cap, facts.nproc);
    }
    if (facts.task_headroom) {
        // The calling thread is counted already; the headroom is for the others.
        cap = smaller_limit(cap, *facts.task_headroom + 1);
    }
    return cap;
}

bool nproc_enforced(bool initial_user_namespace, std::uint64_t real_uid,
                    std::uint64_t capabilities) {
    constexpr std::uint64_t cap_sys_admin = std::uint64_t{1} << 21;
    constexpr std::uint64_t cap_sys_resource = std::uint64_t{1} << 24;
    // The kernel asks about the initial user namespace: the root of a
    // container with a user namespace of its own is held to the limit.
    if (!initial_user_namespace) {
        return true;
    }
    return real_uid != 0 && (capabilities & (cap_sys_admin | cap_sys_resource)) == 0;
}

std::uint64_t status_mask(std::string_view status_text, std::string_view key) {
    for (std::string_view line : split(status_text, '\n')) {
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == ':') {
            const std::string_view digits = trim_blanks(line.substr(key.size() + 1));
            std::uint64_t mask = 0;
            const auto [next, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), mask, 16);
            const bool whole = error == std::errc{} && next == digits.data() + digits.size();
            return whole && !digits.empty() ? mask : 0;
        }
    }
    return 0;
}

bool is_initial_uid_map(std::string_view uid_map_text) {
    const std::vector<std::string_view> lines = split(trim_blanks(uid_map_text), '\n');
    if (lines.size() != 1) {
        return false;
    }
    std::vector<std::string_view> words = split(lines[0], ' ');
    words.erase(std::remove(words.begin(), words.end(), std::string_view{}), words.end());
    return words.size() == 3 && words[0] == "0" && words[1] == "0" && words[2] == "4294967295";
}

std::uint64_t address_space_need(std::uint64_t threads, std::uint64_t grid_bytes,
                                 const address_space_facts& facts, std::uint64_t arenas_made) {
    // New threads take over the arenas of threads that ended first.
    const std::uint64_t with_arena = std::min(threads, facts.arena_limit);
    const std::uint64_t arenas = with_arena - std::min(with_arena, arenas_made);
    std::uint64_t per_thread = 0;
    std::uint64_t need = 0;
    std::uint64_t arena_bytes = 0;
    if (__builtin_add_overflow(grid_bytes, facts.thread_stack, &per_thread) ||
        __builtin_mul_overflow(per_thread, threads, &need) ||
        __builtin_mul_overflow(arenas, facts.arena, &arena_bytes) ||
        __builtin_add_overflow(need, arena_bytes, &need) ||
        __builtin_add_overflow(need, process_memory_reserve, &need)) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return need;
}

std::uint64_t smaller_limit(std::uint64_t a, std::uint64_t b) {
    if (a == 0 || b == 0) {
        return a == 0 ? b : a;
    }
    return std::min(a, b);
}

}  // namespace tavro
