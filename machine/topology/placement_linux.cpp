#include "machine/topology/placement.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>

namespace tavro {
namespace {

constexpr std::size_t word_bits = 8 * sizeof(unsigned long);

bool set_affinity(const std::vector<std::uint32_t>& cpus) {
    if (cpus.empty()) {
        return false;
    }
    // A set sized for the largest CPU, so machines beyond the default
    // set size can be bound as well.
    const std::uint32_t largest = *std::max_element(cpus.begin(), cpus.end());
    std::vector<unsigned long> words(largest / word_bits + 1, 0);
    for (const std::uint32_t cpu : cpus) {
        words[cpu / word_bits] |= 1ul << (cpu % word_bits);
    }
    const std::size_t bytes = words.size() * sizeof(unsigned long);
    return pthread_setaffinity_np(pthread_self(), bytes,
                                  reinterpret_cast<const cpu_set_t*>(words.data())) == 0;
}

}  // namespace

bool bind_current_thread(const logical_cpu& cpu) {
    // Linux has no processor groups; a CPU number beyond any real machine
    // is refused here rather than sized into a huge set.
    if (cpu.group != 0 || cpu.processor > max_cpu_number) {
        return false;
    }
    return set_affinity({cpu.processor});
}

bool unbind_current_thread() {
    return set_affinity(startup_allowed_cpus());
}

}  // namespace tavro
