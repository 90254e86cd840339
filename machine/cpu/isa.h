#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "machine/cpu/cpuid.h"
#include "machine/error_text.h"

namespace tavro {

/// The instruction-set extensions the feature list can name, in the order in
/// which it prints them.
enum class cpu_feature : std::uint8_t {
    mmx,
    sse,
    sse2,
    sse3,
    ssse3,
    sse4_1,
    sse4_2,
    sse4a,
    popcnt,
    aes,
    fma,
    rdrand,
    bmi1,
    bmi2,
    lzcnt,
    xop,
    avx,
    avx2,
    avx10,
    avx512f,
    avx512bw,
    avx512vl,
    avx512dq,
    avx512ifma,
    avx512pf,
    avx512er,
    avx512cd,
    avx512vbmi,
    avx512vbmi2,
    avx512vnni,
    avx512bitalg,
    avx512vpopcntdq,
    avx512_bf16,
    avx512_fp16,
    avx512_4vnniw,
    avx512_4fmaps,
    avx512_vp2intersect,
    apx,
    gfni,
    vaes,
    vpclmulqdq,
    sha,
    rdpid,
    waitpkg,
    movdiri,
    movdir64b,
    serialize,
    tsxldtrk,
    pku,
    ospke,
    sgx,
    clwb,
    clflushopt,
    amx_tile,
    amx_int8,
    amx_bf16,
    amx_fp16,
    cet_ibt,
    cet_shstk,
    fsrm,
    hreset,
    uintr,
};

inline constexpr std::size_t cpu_feature_count = static_cast<std::size_t>(cpu_feature::uintr) + 1;

/// The printed name of a feature: "SSE4.1", "AVX512_BF16".
std::string_view cpu_feature_name(cpu_feature feature);

/// The extensions that both the processor and the operating system support.
struct cpu_features {
    std::array<bool, cpu_feature_count> flags{};
    /// AVX10 version, 0 unless AVX10 is present and CPUID leaf 0x24 exists.
    std::uint32_t avx10_version = 0;
    /// AVX10 vector length: 0 none, 1 for 128, 2 for 256, 3 for 512 bits.
    std::uint32_t avx10_vector_length = 0;

    bool has(cpu_feature feature) const { return flags[static_cast<std::size_t>(feature)]; }
    void set(cpu_feature feature, bool value) { flags[static_cast<std::size_t>(feature)] = value; }
};

/// Decodes the features from captured CPUID registers and XCR0. Extensions that
/// use the AVX or AVX-512 register state count only when XCR0 enables it;
/// leaves above the highest reported leaf leave their flags false.
cpu_features decode_cpu_features(const cpuid_snapshot& regs);

/// The features of the processor this runs on (x86 builds only).
cpu_features read_cpu_features();

/// The names of the set features in table order, separated by single blanks.
/// With AVX10 present, one "AVX10[.version][-bits]" entry replaces the
/// AVX-512 names.
std::string format_cpu_feature_list(const cpu_features& features);

/// The instruction-set extensions of the processor this runs on, as one
/// line of names separated by single blanks: on x86 format_cpu_feature_list
/// of read_cpu_features(), on 64-bit Arm the kernel's names of the hardware
/// capabilities (machine/cpu/hwcap.h). Read by this architecture's file
/// (isa_x86.cpp, isa_arm64.cpp).
std::string cpu_feature_list();

/// Whether the instruction-set variant can run here. Every variant name runs
/// the same portable kernels, so every name is accepted (always empty).
error_text isa_support_check(std::string_view name);

}  // namespace tavro
