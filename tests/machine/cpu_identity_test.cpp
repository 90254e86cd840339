#include "machine/cpu_identity.h"

#include <algorithm>
#include <array>
#include <string_view>

#include <gtest/gtest.h>

namespace tavro {
namespace {

// Lays text into leaves 0x80000002..4 the way a processor stores its brand.
cpuid_snapshot with_brand(std::string_view text, std::uint32_t max_extended = 0x8000'0004) {
    std::array<unsigned char, 48> bytes{};
    std::copy_n(text.begin(), std::min(text.size(), bytes.size()), bytes.begin());
    cpuid_snapshot regs;
    regs.set(0x8000'0000, 0, {max_extended, 0, 0, 0});
    for (std::uint32_t leaf = 0; leaf < 3; ++leaf) {
        std::array<std::uint32_t, 4> words{};
        for (std::size_t i = 0; i < 16; ++i) {
            words[i / 4] |= std::uint32_t{bytes[16 * leaf + i]} << (8 * (i % 4));
        }
        regs.set(0x8000'0002 + leaf, 0, {words[0], words[1], words[2], words[3]});
    }
    return regs;
}

TEST(CpuBrand, DecodedUpToTheFirstZeroByteWithBlanksKept) {
    EXPECT_EQ(decode_cpu_brand(with_brand("  Intel(R) Xeon(R) CPU  ")), "  Intel(R) Xeon(R) CPU  ");
    const std::string full(48, 'x');
    EXPECT_EQ(decode_cpu_brand(with_brand(full)), full);
    EXPECT_EQ(decode_cpu_brand(with_brand("AMD EPYC", 0x8000'0003)), "");
    EXPECT_EQ(decode_cpu_brand(cpuid_snapshot{}), "");
}

TEST(CpuVendor, TakenFromTheBrandString) {
    EXPECT_EQ(vendor_from_brand("Genuine Intel(R) CPU 0000 @ 2.00GHz"), cpu_vendor::intel);
    EXPECT_EQ(vendor_from_brand("Intel"), cpu_vendor::intel);
    EXPECT_EQ(vendor_from_brand("Inte"), cpu_vendor::unknown);
    EXPECT_EQ(vendor_from_brand("intel core"), cpu_vendor::unknown);
    EXPECT_EQ(vendor_from_brand("AMD"), cpu_vendor::amd);
    EXPECT_EQ(vendor_from_brand("AMD Ryzen 9 7950X"), cpu_vendor::amd);
    EXPECT_EQ(vendor_from_brand("AM"), cpu_vendor::unknown);
    EXPECT_EQ(vendor_from_brand("VIA Nano"), cpu_vendor::unknown);
    EXPECT_EQ(vendor_from_brand(""), cpu_vendor::unknown);
}

TEST(CpuIdentity, FamilyIsTheBaseFieldAndModelJoinsTheExtendedNibble) {
    cpuid_snapshot regs = with_brand("Intel(R) Core(TM) i7");
    regs.set(0, 0, {0x16, 0, 0, 0});
    // family 6, extended model 9, model 14, stepping 10
    regs.set(1, 0, {(9u << 16) | (6u << 8) | (14u << 4) | 10u, 0, 0, 0});
    cpu_identity identity = decode_cpu_identity(regs);
    EXPECT_EQ(identity.brand, "Intel(R) Core(TM) i7");
    EXPECT_EQ(identity.vendor, cpu_vendor::intel);
    EXPECT_EQ(identity.family, 6u);
    EXPECT_EQ(identity.model, 0x9Eu);

    // Extended family is left out: family 0xF + 0xA shows as f, model 0x21.
    regs.set(1, 0, {0x00A2'0F10, 0, 0, 0});
    identity = decode_cpu_identity(regs);
    EXPECT_EQ(identity.family, 0xFu);
    EXPECT_EQ(identity.model, 0x21u);
}

}  // namespace
}  // namespace tavro
