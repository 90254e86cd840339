// s390x only: the feature table against the C library's header, and the
// live features against what the kernel reports.
#include <sys/auxv.h>

#include <gtest/gtest.h>

#include "machine/cpu/cpu_identity.h"
#include "machine/cpu/isa.h"
#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {
namespace {

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

TEST(S390xHwcapList, BitsAsTheHeaderNumbersThem) {
    EXPECT_EQ(s390x_hwcap_list(HWCAP_S390_ZARCH | HWCAP_S390_HPAGE | HWCAP_S390_VXRS_EXT2 |
                               HWCAP_S390_VXRS_PDE2 | HWCAP_S390_PCI_MIO),
              "ZARCH EDAT VXE2 VXP2 PCIMIO");
}

TEST(CpuIdentity, ThisMachineAsItsKernelDescribesIt) {
    const std::string cpuinfo = read_text_file("/proc/cpuinfo").value_or("");
    const cpu_identity identity = read_cpu_identity();
    EXPECT_EQ(identity.brand, read_cpu_brand());
    EXPECT_TRUE(identity.brand.starts_with("IBM ")) << identity.brand;
    const std::string features = cpu_feature_list();
    EXPECT_NE(features.find("ZARCH"), std::string::npos) << features;
    if (const auto kernel = cpuinfo_value(cpuinfo, "features");
        kernel && cpuinfo_value(cpuinfo, "vendor_id").value_or("").starts_with("IBM/S390")) {
        EXPECT_EQ(features, upper(*kernel));
        EXPECT_NE(identity.family, 0u);
    }
}

}  // namespace
}  // namespace tavro
