#include "timing/compliance.h"

namespace tavro {

// The version rule concerns one other operating system only; Linux is never
// such a system.
bool system_is_6_2_or_later() {
    return false;
}

}  // namespace tavro
