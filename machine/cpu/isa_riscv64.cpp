// The riscv64 reader of machine/cpu/isa.h: the kernel's ISA string of the
// first core, else the single-letter extensions of AT_HWCAP (all that an
// emulator, whose /proc is the host's, tells); then whatever the
// riscv_hwprobe system call reports usable that the list lacks.
#include "machine/cpu/isa.h"

#include <sys/auxv.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <iterator>
#include <optional>

#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {

namespace {

// Linux 6.4's riscv_hwprobe, which the C library's headers of older
// systems do not declare: <asm/hwprobe.h>'s struct riscv_hwprobe and keys.
constexpr long riscv_hwprobe_syscall = 258;
constexpr std::int64_t key_base_behavior = 3;
constexpr std::int64_t key_ima_ext_0 = 4;

struct riscv_hwprobe_pair {
    std::int64_t key;
    std::uint64_t value;
};

// Every online core's common answers; none where the kernel or emulator
// lacks the call (ENOSYS). A key the kernel does not know comes back as -1.
std::optional<riscv_hwprobe_values> read_riscv_hwprobe() {
    riscv_hwprobe_pair pairs[] = {{key_base_behavior, 0}, {key_ima_ext_0, 0}};
    if (syscall(riscv_hwprobe_syscall, pairs, std::size(pairs), 0, nullptr, 0) != 0 ||
        pairs[0].key != key_base_behavior) {
        return std::nullopt;
    }
    riscv_hwprobe_values values;
    values.base_behavior = pairs[0].value;
    values.ima_ext_0 = pairs[1].key == key_ima_ext_0 ? pairs[1].value : 0;
    return values;
}

}  // namespace

std::string cpu_feature_list() {
    const std::string cpuinfo = read_text_file("/proc/cpuinfo").value_or("");
    std::string list = is_riscv_cpuinfo(cpuinfo)
                           ? riscv_isa_feature_list(cpuinfo_value(cpuinfo, "isa").value_or(""))
                           : riscv_hwcap_feature_list(getauxval(AT_HWCAP));
    if (const auto probe = read_riscv_hwprobe()) {
        list = riscv_merge_feature_lists(list, riscv_hwprobe_feature_list(*probe));
    }
    return list;
}

}  // namespace tavro
