#include "timing/compliance.h"

namespace tavro {

bool timer_rule_allows(bool system_is_6_2_or_later, timer_source source, cpu_vendor vendor,
                       std::uint32_t model) {
    if (!system_is_6_2_or_later || source == timer_source::hpet) {
        return true;
    }
    // The family is deliberately not examined: the rule lists models only.
    return vendor == cpu_vendor::intel && model >= 0x4E && model != 0x4F;
}

bool fast_timer_is_compliant(const timer_info& fast) {
    const cpu_identity identity = read_cpu_identity();
    return timer_rule_allows(system_is_6_2_or_later(), fast.source, identity.vendor,
                             identity.model);
}

}  // namespace tavro
