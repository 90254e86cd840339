#pragma once

#include <ostream>
#include <string>

#include "machine/cpu/cpu_identity.h"
#include "timing/timers.h"

namespace tavro {

/// The "--timer-debug" text: both clocks with their frequencies, the
/// time-stamp counter facts, the processor identity and the compliance
/// verdict, each line ended by '\n'.
std::string format_timer_diagnostics(const timer_info& fast, const timer_info& coarse,
                                     const tsc_info& tsc, const cpu_identity& cpu, bool compliant);

/// Reads the clocks, the processor and the verdict of this machine and writes
/// format_timer_diagnostics to out, flushed.
void print_timer_diagnostics(std::ostream& out);

}  // namespace tavro
