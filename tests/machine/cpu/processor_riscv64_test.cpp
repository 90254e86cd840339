// riscv64 only: the live name and features against what the kernel reports.
#include <sys/auxv.h>

#include <gtest/gtest.h>

#include "machine/cpu/cpu_identity.h"
#include "machine/cpu/isa.h"
#include "machine/cpu/linux_cpuinfo.h"
#include "machine/text_file.h"

namespace tavro {
namespace {

TEST(CpuIdentity, ThisRiscvProcessorAsItsKernelDescribesIt) {
    const std::string cpuinfo = read_text_file("/proc/cpuinfo").value_or("");
    const cpu_identity identity = read_cpu_identity();
    EXPECT_EQ(identity.brand, read_cpu_brand());
    EXPECT_EQ(identity.vendor, cpu_vendor::unknown);
    if (!is_riscv_cpuinfo(cpuinfo)) {
        // Under an emulator: the host's cpuinfo names nothing here.
        EXPECT_EQ(identity.brand, "RISC-V");
        EXPECT_EQ(cpu_feature_list(), riscv_hwcap_feature_list(getauxval(AT_HWCAP)));
        EXPECT_NE(cpu_feature_list().find("I M A F D"), std::string::npos) << cpu_feature_list();
        return;
    }
    if (const auto uarch = cpuinfo_value(cpuinfo, "uarch")) {
        EXPECT_EQ(identity.brand, *uarch);
    }
    EXPECT_EQ(cpu_feature_list(), riscv_isa_feature_list(*cpuinfo_value(cpuinfo, "isa")));
}

}  // namespace
}  // namespace tavro
