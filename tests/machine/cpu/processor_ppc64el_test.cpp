// ppc64el only: the feature table against the C library's header, and the
// live name against what the kernel reports.
#include <sys/auxv.h>

#include <gtest/gtest.h>

#include "machine/cpu/cpu_identity.h"
#include "machine/cpu/isa.h"
#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {
namespace {

TEST(PowerHwcapList, BitsAsTheHeaderNumbersThem) {
    EXPECT_EQ(power_hwcap_list(PPC_FEATURE_64 | PPC_FEATURE_HAS_VSX | PPC_FEATURE_PPC_LE, 0),
              "PPC64 VSX PPCLE");
    EXPECT_EQ(power_hwcap_list(
                  0, PPC_FEATURE2_ARCH_3_1 | PPC_FEATURE2_HTM_NO_SUSPEND | PPC_FEATURE2_DARN),
              "DARN HTM-NO-SUSPEND ARCH_3_1");
}

TEST(CpuIdentity, ThisPowerProcessorAsItsKernelDescribesIt) {
    const std::string cpuinfo = read_text_file("/proc/cpuinfo").value_or("");
    const cpu_identity identity = read_cpu_identity();
    EXPECT_EQ(identity.brand, read_cpu_brand());
    EXPECT_EQ(identity.vendor, cpu_vendor::unknown);
    const std::string features = cpu_feature_list();
    EXPECT_NE(features.find("PPC64"), std::string::npos) << features;
    EXPECT_NE(features.find("FPU"), std::string::npos) << features;
    if (!cpuinfo_value(cpuinfo, "timebase")) {
        EXPECT_TRUE(identity.brand.starts_with("Power ISA") || identity.brand == "POWER")
            << identity.brand;
        return;
    }
    const std::string_view cpu = *cpuinfo_value(cpuinfo, "cpu");
    EXPECT_TRUE(identity.brand.starts_with(cpu.substr(0, cpu.find(',')))) << identity.brand;
}

}  // namespace
}  // namespace tavro
