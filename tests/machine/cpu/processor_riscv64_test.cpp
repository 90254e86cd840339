// riscv64 only: the live name and features against what the kernel reports.
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

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

    // riscv_hwprobe (system call 258) for the base behaviour and IMA_EXT_0
    // keys; kernels before 6.4 and older emulators lack it.
    struct {
        std::int64_t key;
        std::uint64_t value;
    } pairs[] = {{3, 0}, {4, 0}};
    const bool probed = syscall(258, pairs, 2, 0, nullptr, 0) == 0 && pairs[0].key == 3;
    const std::uint64_t hwcap = getauxval(AT_HWCAP);
    std::string expected;
    if (!is_riscv_cpuinfo(cpuinfo)) {
        // Under an emulator: the host's cpuinfo names nothing here.
        EXPECT_EQ(identity.brand, "RISC-V");
        expected = riscv_hwcap_feature_list(hwcap);
        EXPECT_NE(cpu_feature_list().find("I M A F D"), std::string::npos) << cpu_feature_list();
    } else {
        if (const auto uarch = cpuinfo_value(cpuinfo, "uarch")) {
            EXPECT_EQ(identity.brand, *uarch);
        }
        expected = riscv_isa_feature_list(*cpuinfo_value(cpuinfo, "isa"));
    }
    if (probed) {
        // The kernel's F, D and C as AT_HWCAP has them.
        const auto letter = [&](char c) { return ((hwcap >> (c - 'A')) & 1u) != 0; };
        EXPECT_EQ((pairs[0].value & 1u) != 0, letter('I') && letter('M') && letter('A'));
        EXPECT_EQ((pairs[1].value & 1u) != 0, letter('F') && letter('D'));
        EXPECT_EQ((pairs[1].value & 2u) != 0, letter('C'));
        expected = riscv_merge_feature_lists(
            expected, riscv_hwprobe_feature_list({pairs[0].value, pairs[1].value}));
    }
    EXPECT_EQ(cpu_feature_list(), expected) << (probed ? "with hwprobe" : "without hwprobe");
}

}  // namespace
}  // namespace tavro
