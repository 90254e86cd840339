#include "machine/cpu/cpu_identity.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "machine/cpu/arm_identity.h"
#include "tests/machine/fake_sysfs.h"

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

TEST(ArmProcessorName, VendorAndDistinctCoreTypesInCpuOrder) {
    EXPECT_EQ(decode_midr(0x413f'd0c1), (midr_code{0x41, 0xd0c}));
    const std::vector<midr_code> n1(4, decode_midr(0x413f'd0c1));
    EXPECT_EQ(arm_processor_name("", n1), "ARM Neoverse-N1");
    EXPECT_EQ(
        arm_processor_name(
            "", std::vector<midr_code>{{0x41, 0xd0b}, {0x41, 0xd05}, {0x41, 0xd0b}, {0x41, 0xd05}}),
        "ARM Cortex-A76 + Cortex-A55");
    // The vendor is named again where it changes.
    EXPECT_EQ(arm_processor_name("", std::vector<midr_code>{{0x51, 0x804}, {0x41, 0xd05}}),
              "Qualcomm Kryo-4XX-Gold + ARM Cortex-A55");
    EXPECT_EQ(arm_processor_name("", std::vector<midr_code>{{0xc0, 0xac4}}), "Ampere Ampere-1a");
    EXPECT_EQ(arm_processor_name("", std::vector<midr_code>{{0x48, 0xd40}}),
              "HiSilicon Cortex-A76");
    // The firmware's name wins whatever the cores are.
    EXPECT_EQ(arm_processor_name("Ampere(R) Altra(R) Processor", n1),
              "Ampere(R) Altra(R) Processor");

    // Unknown codes show as numbers, never as an empty line.
    EXPECT_EQ(arm_processor_name("", std::vector<midr_code>{{0x41, 0xd99}}), "ARM part 0xd99");
    EXPECT_EQ(arm_processor_name("", std::vector<midr_code>{{0x56, 0x001}}), "Marvell part 0x001");
    EXPECT_EQ(arm_processor_name("", std::vector<midr_code>{{0x99, 0x12}}),
              "implementer 0x99 part 0x012");
    EXPECT_EQ(arm_processor_name("", {}), "unknown 64-bit Arm processor");

    const cpu_identity identity = arm_cpu_identity(
        "ARM Cortex-A76 + Cortex-A55", std::vector<midr_code>{{0x41, 0xd0b}, {0x41, 0xd05}});
    EXPECT_EQ(identity.vendor, cpu_vendor::unknown);
    EXPECT_EQ(identity.family, 0x41u);
    EXPECT_EQ(identity.model, 0xd0bu);
    EXPECT_EQ(arm_cpu_identity("x", {}).model, 0u);
}

TEST(ArmProcessorName, CoresFromSysfsOrProcCpuinfo) {
    const std::vector<midr_code> cores = read_sysfs_midrs(testing::fake_sysfs("arm_clusters"));
    ASSERT_EQ(cores.size(), 8u);
    EXPECT_EQ(arm_processor_name("", cores), "ARM Cortex-A55 + Cortex-A76");
    EXPECT_TRUE(read_sysfs_midrs(testing::fake_sysfs("smt4")).empty());
    EXPECT_TRUE(read_sysfs_midrs(testing::fake_sysfs("no_such_machine")).empty());

    EXPECT_EQ(parse_midr_text("0x00000000413fd0c1\n"), 0x413f'd0c1u);
    EXPECT_EQ(parse_midr_text("413fd0c1"), std::nullopt);
    EXPECT_EQ(parse_midr_text("0x"), std::nullopt);
    EXPECT_EQ(parse_midr_text("0x41z"), std::nullopt);

    const std::string cpuinfo =
        "processor\t: 0\nBogoMIPS\t: 50.00\nFeatures\t: fp asimd evtstrm\n"
        "CPU implementer\t: 0x41\nCPU architecture: 8\nCPU variant\t: 0x3\n"
        "CPU part\t: 0xd0c\nCPU revision\t: 1\n\n"
        "processor\t: 1\nCPU implementer\t: 0x41\nCPU part\t: bad\n\n"
        "processor\t: 2\nCPU part\t: 0xd05\n\n"
        "processor\t: 3\nCPU implementer\t: 0x51\nCPU part\t: 0x804\n";
    EXPECT_EQ(parse_cpuinfo_midrs(cpuinfo), (std::vector<midr_code>{{0x41, 0xd0c}, {0x51, 0x804}}));
    // An x86 /proc/cpuinfo, as an emulator shows the host's, names no core.
    EXPECT_TRUE(parse_cpuinfo_midrs("processor\t: 0\nvendor_id\t: GenuineIntel\n").empty());
}

// An SMBIOS type 4 structure whose version is string `number` of `strings`.
std::vector<std::byte> processor_record(std::uint8_t number, std::string_view strings,
                                        std::uint8_t type = 4) {
    std::vector<std::byte> raw(0x30, std::byte{0});
    raw[0] = std::byte{type};
    raw[1] = std::byte{0x30};
    raw[0x10] = std::byte{number};
    for (const char c : strings) {
        raw.push_back(static_cast<std::byte>(c));
    }
    return raw;
}

TEST(SmbiosProcessorVersion, TheNumberedStringWithoutBlanks) {
    using namespace std::string_view_literals;
    const auto strings = "CPU 0\0  Ampere(R) Altra(R) Processor  \0Ampere(R)\0\0"sv;
    EXPECT_EQ(smbios_processor_version(processor_record(2, strings)),
              "Ampere(R) Altra(R) Processor");
    EXPECT_EQ(smbios_processor_version(processor_record(1, strings)), "CPU 0");
    EXPECT_EQ(smbios_processor_version(processor_record(0, strings)), "");
    EXPECT_EQ(smbios_processor_version(processor_record(4, strings)), "");
    EXPECT_EQ(smbios_processor_version(processor_record(2, strings, 3)), "");
    EXPECT_EQ(smbios_processor_version(processor_record(1, "   \0\0"sv)), "");
    // Cut short: in the string, before the strings, before the field.
    EXPECT_EQ(smbios_processor_version(processor_record(2, "CPU 0\0Ampere"sv)), "");
    auto raw = processor_record(1, strings);
    raw[1] = std::byte{0x40};
    raw.resize(0x3A);
    EXPECT_EQ(smbios_processor_version(raw), "");
    raw.resize(0x10);
    EXPECT_EQ(smbios_processor_version(raw), "");
    EXPECT_EQ(smbios_processor_version({}), "");
}

}  // namespace
}  // namespace tavro
