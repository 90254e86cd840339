// The riscv64 reader of the processor's own counter facts (timing/timers.h):
// the time counter's rate, which the device tree gives as the cpus node's
// timebase-frequency. The counter runs at a constant rate by architecture.
#include "timing/timers.h"

#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {

tsc_info read_tsc_info() {
    std::uint64_t frequency = 0;
    // Under an emulator the device tree, if any, is the host's.
    if (is_riscv_cpuinfo(read_text_file("/proc/cpuinfo").value_or(""))) {
        frequency = device_tree_number(
            read_text_file("/proc/device-tree/cpus/timebase-frequency").value_or(""));
    }
    return {.invariant = true, .tsc_hz = frequency, .crystal_hz = 0};
}

}  // namespace tavro
