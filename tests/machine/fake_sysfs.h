#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "machine/topology/topology.h"

namespace tavro::testing {

/// Root of the fake sysfs tree of one machine under tests/data/sysfs/.
inline std::filesystem::path fake_sysfs(const std::string& machine) {
    const char* data = std::getenv("TAVRO_TEST_DATA");
    return std::filesystem::path(data != nullptr ? data : "tests/data") / "sysfs" / machine;
}

/// The topology of a fake machine with every CPU below `cpu_limit` allowed.
inline cpu_topology fake_topology(const std::string& machine, std::uint32_t cpu_limit = 64) {
    std::vector<std::uint32_t> allowed(cpu_limit);
    std::iota(allowed.begin(), allowed.end(), 0u);
    return build_topology(read_sysfs_topology(fake_sysfs(machine), allowed));
}

/// The processor numbers of a slot list, in order.
inline std::vector<std::uint32_t> processors_of(const std::vector<logical_cpu>& slots) {
    std::vector<std::uint32_t> processors;
    for (const logical_cpu& cpu : slots) {
        processors.push_back(cpu.processor);
    }
    return processors;
}

}  // namespace tavro::testing
