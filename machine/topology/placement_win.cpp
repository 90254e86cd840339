// Windows side of machine/topology/placement.h: thread group affinity.
#include "machine/topology/placement.h"

#include "machine/win32_support.h"

namespace tavro {
namespace {

bool set_group_affinity(const GROUP_AFFINITY& affinity) {
    return SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr) != 0;
}

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
    // A new thread starts with the process's affinity, not its creator's,
    // and on a machine with several processor groups the system spreads
    // threads over all of them. Setting any group affinity here would hold
    // the thread to one group, so a thread without a slot is left alone.
    return true;
}

}  // namespace tavro
