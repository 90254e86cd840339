// The 64-bit Arm side of machine/cpu/fp_mode.h: the control register FPCR.
#include "machine/cpu/fp_mode.h"

namespace tavro {

namespace {

// FPCR.FZ. Arm has no separate denormals-are-zero bit: with FZ set, denormal
// inputs are read as zero as well as denormal results flushed.
constexpr std::uint64_t fpcr_fz = std::uint64_t{1} << 24;

// The memory clobbers keep the compiler from moving loads, stores or the
// arithmetic on them across the register accesses.
std::uint64_t read_fpcr() {
    std::uint64_t value = 0;
    asm volatile("mrs %0, fpcr" : "=r"(value) : : "memory");
    return value;
}

void write_fpcr(std::uint64_t value) {
    asm volatile("msr fpcr, %0" : : "r"(value) : "memory");
}

}  // namespace

void set_flush_denormals_to_zero() {
    write_fpcr(read_fpcr() | fpcr_fz);
}

std::uint64_t fp_control_bits() {
    return read_fpcr();
}

std::uint64_t flush_to_zero_bits() {
    return fpcr_fz;
}

}  // namespace tavro
