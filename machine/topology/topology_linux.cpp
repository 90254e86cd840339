// Linux side of machine/topology/topology.h: the process's allowed CPUs and the live
// sysfs tree.
#include "machine/topology/topology.h"

#include <sched.h>

#include <cerrno>

namespace tavro {
namespace {

using cpu_list = std::vector<std::uint32_t>;

cpu_list read_allowed_cpus() {
    constexpr std::size_t word_bits = 8 * sizeof(unsigned long);
    // Start at the usual set size and grow it for machines with more CPUs.
    for (std::size_t count = CPU_SETSIZE; count <= max_cpu_number + 1u; count *= 2) {
        std::vector<unsigned long> words(count / word_bits, 0);
        const std::size_t bytes = words.size() * sizeof(unsigned long);
        if (sched_getaffinity(0, bytes, reinterpret_cast<cpu_set_t*>(words.data())) != 0) {
            if (errno == EINVAL) {
                continue;
            }
            return {};
        }
        cpu_list cpus;
        for (std::size_t bit = 0; bit < count; ++bit) {
            if ((words[bit / word_bits] >> (bit % word_bits)) & 1u) {
                cpus.push_back(static_cast<std::uint32_t>(bit));
            }
        }
        return cpus;
    }
    return {};
}

// Taken during static initialisation, before any thread can have been bound.
[[maybe_unused]] const cpu_list& startup_capture = startup_allowed_cpus();

}  // namespace

const std::vector<std::uint32_t>& startup_allowed_cpus() {
    static const cpu_list cpus = read_allowed_cpus();
    return cpus;
}

cpu_topology detect_topology() {
    return build_topology(
        read_sysfs_topology("/sys", startup_allowed_cpus(), native_sysfs_rules()));
}

}  // namespace tavro
