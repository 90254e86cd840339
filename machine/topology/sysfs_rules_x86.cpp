// x86: the sysfs reader's rules for this family (machine/topology/topology.h).
#include "machine/topology/topology.h"

namespace tavro {

sysfs_rules native_sysfs_rules() {
    return sysfs_rules::x86;
}

}  // namespace tavro
