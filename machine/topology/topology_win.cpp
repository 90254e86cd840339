// Windows side of machine/topology/topology.h: the logical-processor records of the
// system, parsed by the portable reader in machine/topology/processor_information.h.
#include "machine/topology/topology.h"

#include <cstddef>
#include <vector>

#include "machine/topology/processor_information.h"
#include "machine/win32_support.h"

namespace tavro {

cpu_topology detect_topology() {
    // The first call only asks for the length the records need.
    DWORD length = 0;
    GetLogicalProcessorInformationEx(RelationAll, nullptr, &length);
    if (length == 0) {
        return {};
    }
    std::vector<std::byte> buffer(length);
    if (!GetLogicalProcessorInformationEx(
            RelationAll, reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data()),
            &length)) {
        return {};
    }
    buffer.resize(length);
    return build_topology(parse_processor_information(buffer));
}

}  // namespace tavro
