#include "machine/cpu/cpu_identity.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "machine/cpu/arm_identity.h"
#include "machine/cpu/linux_cpuinfo.h"
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
    EXPECT_EQ(arm_processor_name(n1), "ARM Neoverse-N1");
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{
                  {0x41, 0xd0b}, {0x41, 0xd05}, {0x41, 0xd0b}, {0x41, 0xd05}}),
              "ARM Cortex-A76 + Cortex-A55");
    // The vendor is named again where it changes.
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{{0x51, 0x804}, {0x41, 0xd05}}),
              "Qualcomm Kryo-4XX-Gold + ARM Cortex-A55");
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{{0xc0, 0xac4}}), "Ampere Ampere-1a");
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{{0x48, 0xd40}}), "HiSilicon Cortex-A76");
    // The SoC's maker leads where no core names it.
    EXPECT_EQ(arm_processor_name(n1, "Ampere"), "Ampere SoC with ARM Neoverse-N1");
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{{0xc0, 0xac4}}, "Ampere"),
              "Ampere Ampere-1a");
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{{0x51, 0x804}, {0x41, 0xd05}}, "ARM"),
              "Qualcomm Kryo-4XX-Gold + ARM Cortex-A55");

    // Unknown codes show as numbers, never as an empty line.
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{{0x41, 0xd99}}), "ARM part 0xd99");
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{{0x56, 0x001}}), "Marvell part 0x001");
    EXPECT_EQ(arm_processor_name(std::vector<midr_code>{{0x99, 0x12}}),
              "implementer 0x99 part 0x012");
    EXPECT_EQ(arm_processor_name({}), "unknown 64-bit Arm processor");

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
    EXPECT_EQ(arm_processor_name(cores), "ARM Cortex-A55 + Cortex-A76");
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

TEST(SocVendor, FromTheMakerCodeOrTheFamilyOfTheSocDescription) {
    // The firmware's JEP106 bank and maker code.
    EXPECT_EQ(soc_vendor_name("jep106:0426\n", "jep106:0426:8901\n"), "MediaTek");
    EXPECT_EQ(soc_vendor_name("jep106:0A16", ""), "Ampere");
    EXPECT_EQ(soc_vendor_name("", "jep106:043b:0001"), "ARM");
    EXPECT_EQ(soc_vendor_name("jep106:0999", "jep106:0a16:0001"), "");
    EXPECT_EQ(soc_vendor_name("jep106:", ""), "");
    // A device tree's family text; the maker code comes first.
    EXPECT_EQ(soc_vendor_name("Snapdragon", "481"), "Qualcomm");
    EXPECT_EQ(soc_vendor_name("Freescale i.MX", "i.MX8MQ"), "NXP");
    EXPECT_EQ(soc_vendor_name("R-Car Gen3", "r8a7795"), "");
    EXPECT_EQ(soc_vendor_name("", "Snapdragon"), "");
    EXPECT_EQ(soc_vendor_name("", ""), "");

    const auto sysfs = testing::fake_sysfs("arm_clusters");
    EXPECT_EQ(read_soc_vendor(sysfs), "MediaTek");
    EXPECT_EQ(arm_processor_name(read_sysfs_midrs(sysfs), read_soc_vendor(sysfs)),
              "MediaTek SoC with ARM Cortex-A55 + Cortex-A76");
    EXPECT_EQ(read_soc_vendor(testing::fake_sysfs("smt4")), "");
}

// Captured from the kernels of each architecture (first processor only).
constexpr std::string_view riscv_cpuinfo =
    "processor\t: 0\nhart\t\t: 1\nisa\t\t: rv64imafdc_zicntr_zicsr_zifencei_zihpm_zba_zbb\n"
    "mmu\t\t: sv39\nuarch\t\t: sifive,u74-mc\nmvendorid\t: 0x489\n"
    "marchid\t\t: 0x8000000000000007\nmimpid\t\t: 0x4210427\n\n";
constexpr std::string_view x86_cpuinfo =
    "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 85\n"
    "model name\t: Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz\ncpu MHz\t\t: 2095.078\n"
    "flags\t\t: fpu vme de pse tsc\n\n";
constexpr std::string_view power_cpuinfo =
    "processor\t: 0\ncpu\t\t: POWER9 (architected), altivec supported\nclock\t\t: 2200.000000MHz\n"
    "revision\t: 2.2 (pvr 004e 1202)\n\ntimebase\t: 512000000\nplatform\t: pSeries\n"
    "model\t\t: IBM pSeries (emulated by qemu)\nmachine\t\t: CHRP IBM pSeries (emulated by qemu)\n";
constexpr std::string_view s390x_cpuinfo =
    "vendor_id       : IBM/S390\n# processors    : 2\nbogomips per cpu: 3241.00\n"
    "features\t: esan3 zarch stfle msa ldisp eimm dfp edat etf3eh highgprs te vx sie\n"
    "processor 0: version = FF,  identification = 0133E8,  machine = 8561\n"
    "processor 1: version = FF,  identification = 0133E8,  machine = 8561\n";

TEST(RiscvIdentity, CoreFromUarchDeviceTreeOrIdsNeverFromAnotherArchitecture) {
    cpu_identity identity = riscv_cpu_identity(riscv_cpuinfo, "");
    EXPECT_EQ(identity.brand, "sifive,u74-mc");
    EXPECT_EQ(identity.family, 0x489u);
    EXPECT_EQ(identity.model, 7u);
    // Older kernels print no uarch: the device tree's compatible names the core.
    std::string without_uarch(riscv_cpuinfo);
    without_uarch.erase(without_uarch.find("uarch"),
                        without_uarch.find("mvendorid") - without_uarch.find("uarch"));
    EXPECT_EQ(riscv_cpu_identity(without_uarch, std::string_view("thead,c910\0riscv\0", 17)).brand,
              "thead,c910");
    EXPECT_EQ(riscv_cpu_identity(without_uarch, std::string_view("riscv\0", 6)).brand,
              "RISC-V (mvendorid 0x489, marchid 0x8000000000000007, mimpid 0x4210427)");
    EXPECT_EQ(riscv_cpu_identity("processor\t: 0\nisa\t\t: rv64imafdc\n", "").brand, "RISC-V");
    // Under an emulator: the host's cpuinfo and device tree are not this core.
    identity = riscv_cpu_identity(x86_cpuinfo, std::string_view("arm,cortex-a72\0", 15));
    EXPECT_EQ(identity.brand, "RISC-V");
    EXPECT_EQ(identity.family, 0u);

    EXPECT_EQ(riscv_isa_feature_list("rv64imafdc_zicntr_zicsr_zba"),
              "I M A F D C ZICNTR ZICSR ZBA");
    EXPECT_EQ(riscv_isa_feature_list("rv64imafdcv"), "I M A F D C V");
    EXPECT_EQ(riscv_isa_feature_list("x86"), "");
    const auto letter = [](char c) { return std::uint64_t{1} << (c - 'A'); };
    EXPECT_EQ(riscv_hwcap_feature_list(letter('I') | letter('M') | letter('A') | letter('F') |
                                       letter('D') | letter('C') | letter('V')),
              "I M A F D C V");

    // riscv_hwprobe: F with D, C and V, then the multi-letter extensions in
    // the ISA string's order; nothing without the IMA base behaviour.
    const auto ext = [](int bit) { return std::uint64_t{1} << bit; };
    const std::uint64_t fd_c_v = ext(0) | ext(1) | ext(2);
    EXPECT_EQ(riscv_hwprobe_feature_list({1, fd_c_v | ext(3) | ext(4) | ext(5) | ext(6)}),
              "I M A F D C V ZICBOZ ZBA ZBB ZBS");
    EXPECT_EQ(riscv_hwprobe_feature_list({1, ext(1) | ext(7) | ext(16) | ext(27) | ext(33) |
                                                 ext(35) | ext(36) | ext(37) | ext(43) | ext(48) |
                                                 ext(49) | ext(63)}),
              "I M A C ZICOND ZIHINTPAUSE ZAWRS ZFH ZCA ZBC ZKT ZTSO ZVE32X");
    EXPECT_EQ(riscv_hwprobe_feature_list({1, 0}), "I M A");
    EXPECT_EQ(riscv_hwprobe_feature_list({0, fd_c_v}), "");
    EXPECT_EQ(riscv_hwprobe_feature_list({2, fd_c_v}), "");

    // The kernel's ISA string stays as printed; hwprobe only adds what it lacks,
    // each at its canonical place.
    const std::string isa = riscv_isa_feature_list("rv64imafdcv_zicbom_zicsr_zba_zbb_sstc");
    EXPECT_EQ(riscv_merge_feature_lists(isa, riscv_hwprobe_feature_list({1, fd_c_v | ext(3)})),
              isa);
    EXPECT_EQ(riscv_merge_feature_lists(isa, riscv_hwprobe_feature_list({1, ext(0)})), isa);
    EXPECT_EQ(riscv_merge_feature_lists(
                  isa, riscv_hwprobe_feature_list({1, ext(5) | ext(6) | ext(33) | ext(35)})),
              "I M A F D C V ZICBOM ZICBOZ ZICOND ZICSR ZBA ZBB ZBS ZTSO SSTC");
    EXPECT_EQ(riscv_merge_feature_lists("I M A F D C",
                                        riscv_hwprobe_feature_list({1, fd_c_v | ext(4) | ext(27)})),
              "I M A F D C V ZFH ZBB");
    EXPECT_EQ(riscv_merge_feature_lists("", "I M A"), "I M A");

    // timebase-frequency: a big-endian cell of 32 or 64 bits.
    EXPECT_EQ(device_tree_number(std::string_view("\x00\x3d\x09\x00", 4)), 4'000'000u);
    EXPECT_EQ(device_tree_number(std::string_view("\x00\x00\x00\x00\x01\x31\x2d\x00", 8)),
              20'000'000u);
    EXPECT_EQ(device_tree_number(std::string_view("\x01\x02\x03", 3)), 0u);
    EXPECT_EQ(device_tree_number(""), 0u);
}

TEST(PowerIdentity, CoreRevisionAndPlatformOrTheIsaLevel) {
    const cpu_identity identity = power_cpu_identity(power_cpuinfo, 0);
    EXPECT_EQ(identity.brand, "POWER9 (architected), revision 2.2, pSeries");
    EXPECT_EQ(identity.family, 0x4eu);
    EXPECT_EQ(identity.model, 0x1202u);
    EXPECT_EQ(power_timebase_hz(power_cpuinfo), 512'000'000u);
    // Under an emulator the cpuinfo is the host's.
    EXPECT_EQ(power_cpu_identity(x86_cpuinfo, 0x0004'0000 | 0x0080'0000).brand, "Power ISA 3.1");
    EXPECT_EQ(power_cpu_identity(x86_cpuinfo, 0x8080'0000).brand, "Power ISA 3.0");
    EXPECT_EQ(power_cpu_identity("", 0).brand, "POWER");
    EXPECT_EQ(power_cpu_identity(x86_cpuinfo, 0).family, 0u);
    EXPECT_EQ(power_timebase_hz(x86_cpuinfo), 0u);

    // PPC_FEATURE_64 | _HAS_ALTIVEC | _HAS_FPU | _HAS_VSX | _TRUE_LE, and
    // PPC_FEATURE2_ARCH_2_07 | _ARCH_3_00 | _HAS_IEEE128 | _MMA.
    EXPECT_EQ(power_hwcap_list(0x5800'0082, 0x80c2'0000),
              "PPC64 ALTIVEC FPU VSX TRUE_LE ARCH_2_07 ARCH_3_00 IEEE128 MMA");
    EXPECT_EQ(power_hwcap_list(0x30, 0x1), "");
    // The names the C library prints for PPC_FEATURE_NO_TB and _ICACHE_SNOOP.
    EXPECT_EQ(power_hwcap_list(0x0010'2000, 0), "NOTB IC_SNOOP");
}

TEST(S390xIdentity, MachineTypeFromSysinfoOrCpuinfo) {
    const std::string_view sysinfo =
        "Manufacturer:         IBM\nType:                 3906\n"
        "Model:                703              M04\n";
    cpu_identity identity = s390x_cpu_identity(s390x_cpuinfo, sysinfo);
    EXPECT_EQ(identity.brand, "IBM z14 (3906)");
    EXPECT_EQ(identity.family, 0x3906u);
    EXPECT_EQ(identity.model, 0u);
    EXPECT_EQ(s390x_cpu_identity(s390x_cpuinfo, "").brand, "IBM z15 (8561)");
    EXPECT_EQ(s390x_cpu_identity("", "Manufacturer: IBM\nType: 9999\n").brand,
              "IBM machine type 9999");
    // Under an emulator neither text is an s390x one.
    identity = s390x_cpu_identity(x86_cpuinfo, "");
    EXPECT_EQ(identity.brand, "IBM z/Architecture");
    EXPECT_EQ(identity.family, 0u);

    // Bits 0, 1, 7 (the kernel's "edat"), 9, 11 and 22.
    EXPECT_EQ(s390x_hwcap_list(0x40'0a83), "ESAN3 ZARCH EDAT HIGHGPRS VX SIE");
    EXPECT_EQ(s390x_hwcap_list(std::uint64_t{1} << 40), "");
}

}  // namespace
}  // namespace tavro
