// Windows side of machine/placement.h: thread group affinity.
#include "machine/placement.h"

#include <optional>

#include "machine/win32_support.h"

namespace tavro {
namespace {

bool set_group_affinity(const GROUP_AFFINITY& affinity) {
    return SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr) != 0;
}

// The group affinity of the thread that runs static initialisation (the
// main thread), taken before any binding; empty when the system would not say.
std::optional<GROUP_AFFINITY> read_startup_affinity() {
    GROUP_AFFINITY affinity{};
    if (!GetThreadGroupAffinity(GetCurrentThread(), &affinity)) {
        return std::nullopt;
    }
    return affinity;
}

const std::optional<GROUP_AFFINITY>& startup_affinity() {
    static const std::optional<GROUP_AFFINITY> affinity = read_startup_affinity();
    return affinity;
}

[[maybe_unused]] const std::optional<GROUP_AFFINITY>& startup_capture = startup_affinity();

}  // namespace

bool bind_current_thread(const logical_cpu& cpu) {
    // One bit of a group's 64-bit mask; a larger number names no processor.
    if (cpu.processor >= 64) {
        return false;
    }
    GROUP_AFFINITY affinity{};
    affinity.Mask = KAFFINITY{1} << cpu.processor;
    affinity.Group = cpu.group;
    return set_group_affinity(affinity);
}

bool unbind_current_thread() {
    // New threads start with the process's affinity, but the coordinating
    // thread stays bound after a run; this gives it its starting set back.
    const auto& affinity = startup_affinity();
    return affinity && set_group_affinity(*affinity);
}

}  // namespace tavro
