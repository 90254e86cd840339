// 64-bit Arm: without a level-3 cache, a shared cache or the cluster groups
// the cores (machine/topology/topology.h).
#include "machine/topology/topology.h"

namespace tavro {

llc_fallback native_llc_fallback() {
    return llc_fallback::shared_cache_or_cluster;
}

}  // namespace tavro
