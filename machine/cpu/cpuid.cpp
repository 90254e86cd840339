#include "machine/cpu/cpuid.h"

namespace tavro {

cpuid_regs cpuid_snapshot::get(std::uint32_t leaf, std::uint32_t subleaf) const {
    auto found = leaves_.find({leaf, subleaf});
    return found == leaves_.end() ? cpuid_regs{} : found->second;
}

void cpuid_snapshot::set(std::uint32_t leaf, std::uint32_t subleaf, const cpuid_regs& regs) {
    leaves_[{leaf, subleaf}] = regs;
}

}  // namespace tavro
