// s390x: as on x86, a level-3 cache or nothing groups the cores
// (machine/topology/topology.h).
#include "machine/topology/topology.h"

namespace tavro {

llc_fallback native_llc_fallback() {
    return llc_fallback::none;
}

}  // namespace tavro
