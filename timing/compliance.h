#pragma once

#include <cstdint>

#include "machine/cpu/cpu_identity.h"
#include "timing/timers.h"

namespace tavro {

/// The timer rule of the results league: on systems of version 6.2 and later
/// of the one operating system it governs, the fast timer counts only when it
/// is driven by HPET or runs on an Intel processor of model 0x4E or above
/// (0x4F excepted). Every timer is accepted on any other system.
bool timer_rule_allows(bool system_is_6_2_or_later, timer_source source, cpu_vendor vendor,
                       std::uint32_t model);

/// Whether this system is one the rule governs (version 6.2 or later); a
/// failing query answers false.
bool system_is_6_2_or_later();

/// Whether the fast timer described by fast satisfies the rule on this system
/// and processor.
bool fast_timer_is_compliant(const timer_info& fast);

}  // namespace tavro
