// x86 only: the live features against the kernel's list.
#include "machine/cpu/isa.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace tavro {
namespace {

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
