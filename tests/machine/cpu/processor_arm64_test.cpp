// 64-bit Arm only: the feature table against the kernel's header, and the
// live name and features against what the kernel reports.
#include "machine/cpu/isa.h"

#include <asm/hwcap.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "machine/cpu/arm_identity.h"
#include "machine/cpu/cpu_identity.h"
#include "machine/cpu/hwcap.h"

namespace tavro {
namespace {

std::set<std::string> words_of(const std::string& text) {
    std::istringstream in(text);
    std::set<std::string> words;
    for (std::string word; in >> word;) {
        words.insert(word);
    }
    return words;
}

TEST(HwcapList, BitsAsTheKernelHeaderNumbersThem) {
    EXPECT_EQ(format_hwcap_list(HWCAP_FP | HWCAP_ASIMD, 0), "FP ASIMD");
    EXPECT_EQ(format_hwcap_list(HWCAP_CPUID | HWCAP_SVE | HWCAP_PACG, 0), "CPUID SVE PACG");
    EXPECT_EQ(format_hwcap_list(0, HWCAP2_DCPODP | HWCAP2_SVE2 | HWCAP2_SME_I16I64),
              "DCPODP SVE2 SMEI16I64");
    EXPECT_EQ(format_hwcap_list(0, HWCAP2_WFXT | HWCAP2_SVE_EBF16), "WFXT SVEEBF16");
}

// The "Features" line of the first processor in /proc/cpuinfo; empty when
// there is none (under an emulator the file is the host's).
std::string kernel_features() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("Features", 0) == 0 && line.find(':') != std::string::npos) {
            std::string upper = line.substr(line.find(':') + 1);
            for (char& c : upper) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            return upper;
        }
    }
    return {};
}

TEST(CpuFeatureList, NamesWhatTheKernelReports) {
    const std::set<std::string> kernel = words_of(kernel_features());
    if (kernel.empty()) {
        GTEST_SKIP() << "no Features line in /proc/cpuinfo";
    }
    const std::set<std::string> listed = words_of(cpu_feature_list());
    const std::set<std::string> known = words_of(format_hwcap_list(~0ull, ~0ull));
    for (const std::string& name : listed) {
        EXPECT_EQ(kernel.count(name), 1u) << "listed " << name << " but the kernel does not";
    }
    for (const std::string& name : kernel) {
        if (known.count(name) != 0) {
            EXPECT_EQ(listed.count(name), 1u) << "the kernel reports " << name << " but no entry";
        }
    }
}

TEST(CpuIdentity, ThisArmProcessorIsNamedByItsFirstCore) {
    const cpu_identity identity = read_cpu_identity();
    EXPECT_FALSE(identity.brand.empty());
    EXPECT_EQ(identity.brand, read_cpu_brand());
    EXPECT_EQ(identity.vendor, cpu_vendor::unknown);
    const std::vector<midr_code> cores = read_sysfs_midrs("/sys");
    if (!cores.empty()) {
        EXPECT_EQ(identity.family, cores.front().implementer);
        EXPECT_EQ(identity.model, cores.front().part);
    }
    // Linux on 64-bit Arm requires the floating-point and SIMD unit.
    EXPECT_EQ(cpu_feature_list().rfind("FP ASIMD", 0), 0u) << cpu_feature_list();
}

}  // namespace
}  // namespace tavro
