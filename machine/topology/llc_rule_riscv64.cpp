// riscv64: as on 64-bit Arm, many systems have no level-3 cache; a shared
// cache or the cluster then groups the cores (machine/topology/topology.h).
#include "machine/topology/topology.h"

namespace tavro {

llc_fallback native_llc_fallback() {
    return llc_fallback::shared_cache_or_cluster;
}

}  // namespace tavro
