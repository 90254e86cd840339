#pragma once

#include <cstdint>

namespace tavro {

// Each architecture's file (fp_mode_x86.cpp, fp_mode_arm64.cpp) implements
// these for its floating-point control register.

/// Switches the calling thread to flush-to-zero (and, where the processor
/// has it, denormals-are-zero), keeping every other control bit: on x86
/// MXCSR bits 15 and 6, on 64-bit Arm FPCR.FZ (bit 24). Denormal operands
/// cost some processors a hundred cycles or more, which would make the score
/// depend on how far a wave has decayed rather than on the machine. The mode
/// stays set for the life of the thread. No arithmetic before or after the
/// call moves across it.
void set_flush_denormals_to_zero();

/// The calling thread's floating-point control bits: MXCSR without its
/// sticky status flags (bits 0 to 5) on x86, FPCR on 64-bit Arm.
std::uint64_t fp_control_bits();

/// The bits of fp_control_bits() that set_flush_denormals_to_zero sets.
std::uint64_t flush_to_zero_bits();

}  // namespace tavro
