#include "machine/isa.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

TEST(IsaSupportCheck, AcceptsEveryVariantName) {
    EXPECT_FALSE(isa_support_check("default_isa"));
    EXPECT_FALSE(isa_support_check("sse2"));
    EXPECT_FALSE(isa_support_check("anything else"));
}

// The kernel's name for each extension that it reports as a flag.
const std::map<std::string, std::string>& kernel_flag_names() {
    static const std::map<std::string, std::string> names = {
        {"mmx", "MMX"},
        {"sse", "SSE"},
        {"sse2", "SSE2"},
        {"pni", "SSE3"},
        {"ssse3", "SSSE3"},
        {"sse4_1", "SSE4.1"},
        {"sse4_2", "SSE4.2"},
        {"sse4a", "SSE4a"},
        {"popcnt", "POPCNT"},
        {"aes", "AES"},
        {"fma", "FMA"},
        {"rdrand", "RDRAND"},
        {"bmi1", "BMI1"},
        {"bmi2", "BMI2"},
        {"abm", "LZCNT"},
        {"xop", "XOP"},
        {"avx", "AVX"},
        {"avx2", "AVX2"},
        {"avx512f", "AVX512F"},
        {"avx512bw", "AVX512BW"},
        {"avx512vl", "AVX512VL"},
        {"avx512dq", "AVX512DQ"},
        {"avx512ifma", "AVX512IFMA"},
        {"avx512pf", "AVX512PF"},
        {"avx512er", "AVX512ER"},
        {"avx512cd", "AVX512CD"},
        {"avx512vbmi", "AVX512VBMI"},
        {"avx512_vbmi2", "AVX512VBMI2"},
        {"avx512_vnni", "AVX512VNNI"},
        {"avx512_bitalg", "AVX512BITALG"},
        {"avx512_vpopcntdq", "AVX512VPOPCNTDQ"},
        {"avx512_bf16", "AVX512_BF16"},
        {"avx512_fp16", "AVX512_FP16"},
        {"avx512_4vnniw", "AVX512_4VNNIW"},
        {"avx512_4fmaps", "AVX512_4FMAPS"},
        {"avx512_vp2intersect", "AVX512_VP2INTERSECT"},
        {"gfni", "GFNI"},
        {"vaes", "VAES"},
        {"vpclmulqdq", "VPCLMULQDQ"},
        {"sha_ni", "SHA"},
        {"rdpid", "RDPID"},
        {"waitpkg", "WAITPKG"},
        {"movdiri", "MOVDIRI"},
        {"movdir64b", "MOVDIR64B"},
        {"serialize", "SERIALIZE"},
        {"tsxldtrk", "TSXLDTRK"},
        {"pku", "PKU"},
        {"ospke", "OSPKE"},
        {"sgx", "SGX"},
        {"clwb", "CLWB"},
        {"clflushopt", "CLFLUSHOPT"},
        {"amx_tile", "AMX_TILE"},
        {"amx_int8", "AMX_INT8"},
        {"amx_bf16", "AMX_BF16"},
        {"amx_fp16", "AMX_FP16"},
        {"ibt", "CET_IBT"},
        {"fsrm", "FSRM"},
        {"hreset", "HRESET"},
    };
    return names;
}

// The flags of the first processor in /proc/cpuinfo; empty when unreadable.
std::set<std::string> kernel_flags() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("flags", 0) == 0 && line.find(':') != std::string::npos) {
            std::istringstream words(line.substr(line.find(':') + 1));
            std::set<std::string> flags;
            for (std::string word; words >> word;) {
                flags.insert(word);
            }
            return flags;
        }
    }
    return {};
}

TEST(CpuFeatureList, ListsEveryExtensionTheKernelReports) {
    const std::set<std::string> flags = kernel_flags();
    if (flags.empty()) {
        GTEST_SKIP() << "no flags line in /proc/cpuinfo";
    }
    const cpu_features features = read_cpu_features();
    std::istringstream words(format_cpu_feature_list(features));
    std::set<std::string> listed;
    for (std::string word; words >> word;) {
        listed.insert(word);
    }
    const bool avx10 = features.has(cpu_feature::avx10);
    for (const auto& [flag, name] : kernel_flag_names()) {
        if (flags.count(flag) == 0 || (avx10 && name.rfind("AVX512", 0) == 0)) {
            continue;
        }
        EXPECT_EQ(listed.count(name), 1u) << "kernel flag " << flag << " but no " << name;
    }
}

}  // namespace
}  // namespace tavro
