// riscv64: the sysfs reader's rules of 64-bit Arm, whose systems are alike:
// often no level-3 cache, so a shared cache or the cluster groups the cores,
// and core types told apart by capacity or maximum frequency
// (machine/topology/topology.h).
#include "machine/topology/topology.h"

namespace tavro {

sysfs_rules native_sysfs_rules() {
    return sysfs_rules::arm64;
}

}  // namespace tavro
