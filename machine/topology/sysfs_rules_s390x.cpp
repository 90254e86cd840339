// s390x: the sysfs reader's rules of x86: a level-3 cache or nothing groups the
// cores (machine/topology/topology.h).
#include "machine/topology/topology.h"

namespace tavro {

sysfs_rules native_sysfs_rules() {
    return sysfs_rules::x86;
}

}  // namespace tavro
