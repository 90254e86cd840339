#include "machine/cpu/isa.h"

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "machine/cpu/hwcap.h"

namespace tavro {
namespace {

constexpr std::uint32_t bit(int n) {
    return 1u << n;
}

constexpr std::uint32_t osxsave = bit(27);
constexpr std::uint32_t avx = bit(28);
constexpr std::uint64_t xcr0_avx = 0x7;      // x87, SSE, YMM
constexpr std::uint64_t xcr0_avx512 = 0xE7;  // plus opmask and ZMM

// A processor with every extension from MMX to AVX2 except SSE4a and XOP.
cpuid_snapshot mmx_to_avx2() {
    cpuid_snapshot regs;
    regs.set(0, 0, {7, 0, 0, 0});
    regs.set(0x8000'0000, 0, {0x8000'0001, 0, 0, 0});
    regs.set(1, 0,
             {0, 0,
              bit(0) | bit(9) | bit(19) | bit(20) | bit(23) | bit(25) | bit(12) | bit(30) |
                  osxsave | avx,
              bit(23) | bit(25) | bit(26)});
    regs.set(7, 0, {0, bit(3) | bit(8) | bit(5), 0, 0});
    regs.set(0x8000'0001, 0, {0, 0, bit(5), 0});
    regs.xcr0 = xcr0_avx;
    return regs;
}

constexpr std::uint32_t avx512_foundation_bits = bit(16) | bit(17) | bit(30) | bit(31);

void add_to_leaf7(cpuid_snapshot& regs, std::uint32_t ebx, std::uint32_t ecx, std::uint32_t edx) {
    cpuid_regs leaf = regs.get(7, 0);
    leaf.ebx |= ebx;
    leaf.ecx |= ecx;
    leaf.edx |= edx;
    regs.set(7, 0, leaf);
}

std::string list_of(const cpuid_snapshot& regs) {
    return format_cpu_feature_list(decode_cpu_features(regs));
}

TEST(CpuFeatureList, SixteenBaselineNamesInTableOrder) {
    EXPECT_EQ(list_of(mmx_to_avx2()),
              "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX "
              "AVX2");
    EXPECT_EQ(list_of(cpuid_snapshot{}), "");
}

TEST(CpuFeatureList, AvxExtensionsNeedTheSystemToSaveTheirState) {
    cpuid_snapshot regs = mmx_to_avx2();
    add_to_leaf7(regs, avx512_foundation_bits, bit(8) | bit(9) | bit(10), 0);

    // AVX-512 bits without the ZMM state: AVX and AVX2 stay, no AVX-512 name.
    std::string list = list_of(regs);
    EXPECT_NE(list.find("AVX AVX2 GFNI VAES VPCLMULQDQ"), std::string::npos) << list;
    EXPECT_EQ(list.find("AVX512"), std::string::npos) << list;

    regs.xcr0 = xcr0_avx512;
    EXPECT_NE(list_of(regs).find("AVX2 AVX512F AVX512BW AVX512VL AVX512DQ GFNI"),
              std::string::npos);

    // Without the YMM state (XCR0 bit 2) nothing that uses it is listed, FMA is.
    regs.xcr0 = 0x3;
    list = list_of(regs);
    EXPECT_EQ(list, "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT");

    // An XCR0 that says everything does not count when OSXSAVE is clear.
    regs.xcr0 = xcr0_avx512;
    cpuid_regs leaf1 = regs.get(1);
    leaf1.ecx &= ~osxsave;
    regs.set(1, 0, leaf1);
    EXPECT_EQ(list_of(regs), list);
}

TEST(CpuFeatureList, Avx10ReplacesTheAvx512Names) {
    cpuid_snapshot regs = mmx_to_avx2();
    regs.set(0, 0, {0x24, 0, 0, 0});
    add_to_leaf7(regs, avx512_foundation_bits, bit(8), bit(23));
    regs.set(7, 1, {0, 0, 0, bit(19)});
    regs.set(0x24, 0, {0, 2 | bit(16) | bit(17) | bit(18), 0, 0});
    regs.xcr0 = xcr0_avx512;

    const cpu_features features = decode_cpu_features(regs);
    EXPECT_EQ(features.avx10_version, 2u);
    EXPECT_EQ(features.avx10_vector_length, 3u);
    const std::string baseline = list_of(mmx_to_avx2());
    EXPECT_EQ(format_cpu_feature_list(features), baseline + " AVX10.2-512 GFNI");

    regs.set(0x24, 0, {0, 1 | bit(17), 0, 0});
    EXPECT_EQ(list_of(regs), baseline + " AVX10.1-256 GFNI");
    regs.set(0x24, 0, {0, bit(16), 0, 0});
    EXPECT_EQ(list_of(regs), baseline + " AVX10-128 GFNI");
    regs.set(0x24, 0, {});
    EXPECT_EQ(list_of(regs), baseline + " AVX10 GFNI");

    // Leaf 0x24 beyond the highest leaf is not read.
    regs.set(0, 0, {0x23, 0, 0, 0});
    regs.set(0x24, 0, {0, 2 | bit(18), 0, 0});
    EXPECT_EQ(list_of(regs), baseline + " AVX10 GFNI");

    // AVX10 needs the AVX-512 state like the names it replaces.
    regs.xcr0 = xcr0_avx;
    EXPECT_EQ(list_of(regs), baseline + " GFNI");
}

TEST(CpuFeatureList, LeavesAboveTheHighestAreIgnored) {
    cpuid_snapshot regs = mmx_to_avx2();
    regs.set(0, 0, {6, 0, 0, 0});
    regs.set(0x8000'0000, 0, {0x8000'0000, 0, 0, 0});
    EXPECT_EQ(list_of(regs), "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND AVX");
}

TEST(CpuFeatureList, EveryNameAppearsOnceWhenEveryBitIsSet) {
    constexpr cpuid_regs all = {~0u, ~0u, ~0u, ~0u};
    cpuid_snapshot regs;
    regs.set(0, 0, {7, 0, 0, 0});
    regs.set(0x8000'0000, 0, {0x8000'0001, 0, 0, 0});
    regs.set(1, 0, all);
    regs.set(7, 0, all);
    regs.set(7, 1, {~0u, ~0u, ~0u, ~bit(19)});
    regs.set(0x8000'0001, 0, all);
    regs.xcr0 = ~std::uint64_t{0};

    std::istringstream words(list_of(regs));
    std::vector<std::string> names;
    for (std::string word; words >> word;) {
        names.push_back(word);
    }
    ASSERT_EQ(names.size(), cpu_feature_count - 1);  // all but AVX10
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    EXPECT_EQ(names.front(), "MMX");
    EXPECT_EQ(names[18], "AVX512F");
    EXPECT_EQ(names.back(), "UINTR");
}

TEST(HwcapList, KernelNamesInBitOrderInUpperCase) {
    // A Neoverse-N1 core as Linux 6.1 reports it: hwcap 0x10119fff, no hwcap2.
    EXPECT_EQ(format_hwcap_list(0x1011'9fff, 0),
              "FP ASIMD EVTSTRM AES PMULL SHA1 SHA2 CRC32 ATOMICS FPHP ASIMDHP CPUID ASIMDRDM "
              "LRCPC DCPOP ASIMDDP SSBS");
    EXPECT_EQ(format_hwcap_list(0, 0), "");
    // The second word follows the first; bits beyond the table are left out.
    EXPECT_EQ(
        format_hwcap_list(bit(22), 0b11 | (std::uint64_t{1} << 33) | (std::uint64_t{1} << 63)),
        "SVE DCPODP SVE2 SVEEBF16");
    std::istringstream all(format_hwcap_list(~0ull, ~0ull));
    std::set<std::string> names;
    std::size_t count = 0;
    for (std::string word; all >> word; ++count) {
        names.insert(word);
    }
    EXPECT_EQ(count, 66u);
    EXPECT_EQ(names.size(), count);
}

TEST(IsaSupportCheck, AcceptsEveryVariantName) {
    EXPECT_FALSE(isa_support_check("default_isa"));
    EXPECT_FALSE(isa_support_check("sse2"));
    EXPECT_FALSE(isa_support_check("anything else"));
}

}  // namespace
}  // namespace tavro
