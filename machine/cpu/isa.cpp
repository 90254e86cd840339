#include "machine/cpu/isa.h"

#include <fmt/format.h>

namespace tavro {

namespace {

enum class leaf_id : std::uint8_t { standard_1, structured_0, structured_1, extended_1 };
enum class reg : std::uint8_t { eax, ebx, ecx, edx };
enum class state : std::uint8_t { none, avx, avx512 };

struct feature_row {
    std::string_view name;
    leaf_id leaf;
    reg where;
    std::uint8_t bit;
    state needs;
};

using enum leaf_id;
using enum reg;

// One row per cpu_feature, in enumeration (and print) order.
constexpr std::array<feature_row, cpu_feature_count> feature_table = {{
    {"MMX", standard_1, edx, 23, state::none},
    {"SSE", standard_1, edx, 25, state::none},
    {"SSE2", standard_1, edx, 26, state::none},
    {"SSE3", standard_1, ecx, 0, state::none},
    {"SSSE3", standard_1, ecx, 9, state::none},
    {"SSE4.1", standard_1, ecx, 19, state::none},
    {"SSE4.2", standard_1, ecx, 20, state::none},
    {"SSE4a", extended_1, ecx, 6, state::none},
    {"POPCNT", standard_1, ecx, 23, state::none},
    {"AES", standard_1, ecx, 25, state::none},
    {"FMA", standard_1, ecx, 12, state::none},
    {"RDRAND", standard_1, ecx, 30, state::none},
    {"BMI1", structured_0, ebx, 3, state::none},
    {"BMI2", structured_0, ebx, 8, state::none},
    {"LZCNT", extended_1, ecx, 5, state::none},
    {"XOP", extended_1, ecx, 11, state::none},
    {"AVX", standard_1, ecx, 28, state::avx},
    {"AVX2", structured_0, ebx, 5, state::avx},
    {"AVX10", structured_1, edx, 19, state::avx512},
    {"AVX512F", structured_0, ebx, 16, state::avx512},
    {"AVX512BW", structured_0, ebx, 30, state::avx512},
    {"AVX512VL", structured_0, ebx, 31, state::avx512},
    {"AVX512DQ", structured_0, ebx, 17, state::avx512},
    {"AVX512IFMA", structured_0, ebx, 21, state::avx512},
    {"AVX512PF", structured_0, ebx, 26, state::avx512},
    {"AVX512ER", structured_0, ebx, 27, state::avx512},
    {"AVX512CD", structured_0, ebx, 28, state::avx512},
    {"AVX512VBMI", structured_0, ecx, 1, state::avx512},
    {"AVX512VBMI2", structured_0, ecx, 6, state::avx512},
    {"AVX512VNNI", structured_0, ecx, 11, state::avx512},
    {"AVX512BITALG", structured_0, ecx, 12, state::avx512},
    {"AVX512VPOPCNTDQ", structured_0, ecx, 14, state::avx512},
    {"AVX512_BF16", structured_1, eax, 5, state::avx512},
    {"AVX512_FP16", structured_0, edx, 23, state::avx512},
    {"AVX512_4VNNIW", structured_0, edx, 2, state::avx512},
    {"AVX512_4FMAPS", structured_0, edx, 3, state::avx512},
    {"AVX512_VP2INTERSECT", structured_0, edx, 8, state::avx512},
    {"APX", structured_1, edx, 21, state::none},
    {"GFNI", structured_0, ecx, 8, state::avx},
    {"VAES", structured_0, ecx, 9, state::avx},
    {"VPCLMULQDQ", structured_0, ecx, 10, state::avx},
    {"SHA", structured_0, ebx, 29, state::none},
    {"RDPID", structured_0, ecx, 22, state::none},
    {"WAITPKG", structured_0, ecx, 5, state::none},
    {"MOVDIRI", structured_0, ecx, 27, state::none},
    {"MOVDIR64B", structured_0, ecx, 28, state::none},
    {"SERIALIZE", structured_0, edx, 14, state::none},
    {"TSXLDTRK", structured_0, edx, 16, state::none},
    {"PKU", structured_0, ecx, 3, state::none},
    {"OSPKE", structured_0, ecx, 4, state::none},
    {"SGX", structured_0, ebx, 2, state::none},
    {"CLWB", structured_0, ebx, 24, state::none},
    {"CLFLUSHOPT", structured_0, ebx, 23, state::none},
    {"AMX_TILE", structured_0, edx, 24, state::none},
    {"AMX_INT8", structured_0, edx, 25, state::none},
    {"AMX_BF16", structured_0, edx, 22, state::none},
    {"AMX_FP16", structured_1, eax, 21, state::none},
    {"CET_IBT", structured_0, edx, 20, state::none},
    {"CET_SHSTK", structured_0, ecx, 7, state::none},
    {"FSRM", structured_0, edx, 4, state::none},
    {"HRESET", structured_1, eax, 22, state::none},
    {"UINTR", structured_0, edx, 5, state::none},
}};

constexpr std::uint32_t osxsave_and_avx = (1u << 27) | (1u << 28);
constexpr std::uint64_t avx_state_mask = 0x6;      // SSE and YMM upper halves
constexpr std::uint64_t avx512_state_mask = 0xE6;  // plus opmask and ZMM state

bool bit_set(std::uint32_t value, std::uint8_t bit) {
    return ((value >> bit) & 1u) != 0;
}

std::uint32_t pick(const cpuid_regs& regs, reg where) {
    switch (where) {
        case eax:
            return regs.eax;
        case ebx:
            return regs.ebx;
        case ecx:
            return regs.ecx;
        case edx:
            break;
    }
    return regs.edx;
}

// The registers of each leaf the table uses; a leaf the processor lacks stays zero.
struct leaf_set {
    cpuid_regs standard_1;
    cpuid_regs structured_0;
    cpuid_regs structured_1;
    cpuid_regs extended_1;

    const cpuid_regs& of(leaf_id leaf) const {
        switch (leaf) {
            case leaf_id::standard_1:
                return standard_1;
            case leaf_id::structured_0:
                return structured_0;
            case leaf_id::structured_1:
                return structured_1;
            case leaf_id::extended_1:
                break;
        }
        return extended_1;
    }
};

leaf_set gather_leaves(const cpuid_snapshot& regs) {
    leaf_set leaves;
    leaves.standard_1 = regs.get(1);
    if (regs.max_leaf() >= 7) {
        leaves.structured_0 = regs.get(7, 0);
        leaves.structured_1 = regs.get(7, 1);
    }
    if (regs.max_extended_leaf() >= 0x8000'0001) {
        leaves.extended_1 = regs.get(0x8000'0001);
    }
    return leaves;
}

std::uint32_t avx10_vector_length_code(std::uint32_t ebx) {
    if (bit_set(ebx, 18)) {
        return 3;
    }
    if (bit_set(ebx, 17)) {
        return 2;
    }
    return bit_set(ebx, 16) ? 1 : 0;
}

std::string avx10_entry(const cpu_features& features) {
    std::string entry = "AVX10";
    if (features.avx10_version != 0) {
        entry += fmt::format(".{}", features.avx10_version);
    }
    switch (features.avx10_vector_length) {
        case 1:
            entry += "-128";
            break;
        case 2:
            entry += "-256";
            break;
        case 3:
            entry += "-512";
            break;
        default:
            break;
    }
    return entry;
}

bool in_avx512_group(cpu_feature feature) {
    return feature >= cpu_feature::avx512f && feature <= cpu_feature::avx512_vp2intersect;
}

}  // namespace

std::string_view cpu_feature_name(cpu_feature feature) {
    return feature_table[static_cast<std::size_t>(feature)].name;
}

cpu_features decode_cpu_features(const cpuid_snapshot& regs) {
    const leaf_set leaves = gather_leaves(regs);
    bool avx_state = false;
    bool avx512_state = false;
    if ((leaves.standard_1.ecx & osxsave_and_avx) == osxsave_and_avx) {
        avx_state = (regs.xcr0 & avx_state_mask) == avx_state_mask;
        avx512_state = (regs.xcr0 & avx512_state_mask) == avx512_state_mask;
    }

    cpu_features features;
    for (std::size_t i = 0; i < cpu_feature_count; ++i) {
        const feature_row& row = feature_table[i];
        bool enabled = row.needs == state::none || (row.needs == state::avx && avx_state) ||
                       (row.needs == state::avx512 && avx512_state);
        features.flags[i] = enabled && bit_set(pick(leaves.of(row.leaf), row.where), row.bit);
    }
    if (features.has(cpu_feature::avx10) && regs.max_leaf() >= 0x24) {
        const std::uint32_t ebx = regs.get(0x24).ebx;
        features.avx10_version = ebx & 0xFF;
        features.avx10_vector_length = avx10_vector_length_code(ebx);
    }
    return features;
}

std::string format_cpu_feature_list(const cpu_features& features) {
    const bool avx10 = features.has(cpu_feature::avx10);
    std::string list;
    for (std::size_t i = 0; i < cpu_feature_count; ++i) {
        const auto feature = static_cast<cpu_feature>(i);
        if (!features.flags[i] || (avx10 && in_avx512_group(feature))) {
            continue;
        }
        if (!list.empty()) {
            list += ' ';
        }
        list += feature == cpu_feature::avx10 ? avx10_entry(features)
                                              : std::string(feature_table[i].name);
    }
    return list;
}

error_text isa_support_check(std::string_view /*name*/) {
    return std::nullopt;
}

}  // namespace tavro
