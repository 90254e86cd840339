#include "machine/cpu/cpu_identity.h"

#include <array>
#include <cstddef>

namespace tavro {

namespace {

void append_register(std::array<char, 48>& buffer, std::size_t offset, std::uint32_t value) {
    for (std::size_t byte = 0; byte < 4; ++byte) {
        buffer[offset + byte] = static_cast<char>((value >> (8 * byte)) & 0xFF);
    }
}

}  // namespace

std::string decode_cpu_brand(const cpuid_snapshot& regs) {
    std::array<char, 48> buffer{};
    if (regs.max_extended_leaf() >= 0x8000'0004) {
        for (std::uint32_t i = 0; i < 3; ++i) {
            const cpuid_regs leaf = regs.get(0x8000'0002 + i);
            const std::size_t base = 16 * std::size_t{i};
            append_register(buffer, base, leaf.eax);
            append_register(buffer, base + 4, leaf.ebx);
            append_register(buffer, base + 8, leaf.ecx);
            append_register(buffer, base + 12, leaf.edx);
        }
    }
    std::string_view text(buffer.data(), buffer.size());
    return std::string(text.substr(0, text.find('\0')));
}

cpu_vendor vendor_from_brand(std::string_view brand) {
    if (brand.find("Intel") != std::string_view::npos) {
        return cpu_vendor::intel;
    }
    if (brand.find("AMD") != std::string_view::npos) {
        return cpu_vendor::amd;
    }
    return cpu_vendor::unknown;
}

cpu_identity decode_cpu_identity(const cpuid_snapshot& regs) {
    cpu_identity identity;
    identity.brand = decode_cpu_brand(regs);
    identity.vendor = vendor_from_brand(identity.brand);
    const std::uint32_t eax = regs.get(1).eax;
    identity.family = (eax >> 8) & 0xF;
    identity.model = (((eax >> 16) & 0xF) << 4) | ((eax >> 4) & 0xF);
    return identity;
}

}  // namespace tavro
