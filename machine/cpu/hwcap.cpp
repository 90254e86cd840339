#include "machine/cpu/hwcap.h"

#include <array>
#include <span>
#include <string_view>

namespace tavro {

namespace {

// Bit n of AT_HWCAP and AT_HWCAP2 is entry n of these tables, as the
// HWCAP_* and HWCAP2_* macros of the kernel's arm64 <asm/hwcap.h> (Linux
// 6.1) number them. The kernel's "Features" name of a bit is the macro's
// name after the prefix, in lower case and without underscores
// (HWCAP2_SME_I16I64 is "smei16i64"); the list prints it in upper case.
constexpr std::array<std::string_view, 32> hwcap_names = {
    "FP",      "ASIMD", "EVTSTRM", "AES",   "PMULL",    "SHA1",   "SHA2", "CRC32",
    "ATOMICS", "FPHP",  "ASIMDHP", "CPUID", "ASIMDRDM", "JSCVT",  "FCMA", "LRCPC",
    "DCPOP",   "SHA3",  "SM3",     "SM4",   "ASIMDDP",  "SHA512", "SVE",  "ASIMDFHM",
    "DIT",     "USCAT", "ILRCPC",  "FLAGM", "SSBS",     "SB",     "PACA", "PACG",
};

constexpr std::array<std::string_view, 34> hwcap2_names = {
    "DCPODP",    "SVE2",      "SVEAES",  "SVEPMULL",  "SVEBITPERM", "SVESHA3",  "SVESM4",
    "FLAGM2",    "FRINT",     "SVEI8MM", "SVEF32MM",  "SVEF64MM",   "SVEBF16",  "I8MM",
    "BF16",      "DGH",       "RNG",     "BTI",       "MTE",        "ECV",      "AFP",
    "RPRES",     "MTE3",      "SME",     "SMEI16I64", "SMEF64F64",  "SMEI8I32", "SMEF16F32",
    "SMEB16F32", "SMEF32F32", "SMEFA64", "WFXT",      "EBF16",      "SVEEBF16",
};

void append_names(std::string& list, std::uint64_t bits, std::span<const std::string_view> names) {
    for (std::size_t bit = 0; bit < names.size(); ++bit) {
        if (((bits >> bit) & 1u) == 0) {
            continue;
        }
        if (!list.empty()) {
            list += ' ';
        }
        list += names[bit];
    }
}

}  // namespace

std::string format_hwcap_list(std::uint64_t hwcap, std::uint64_t hwcap2) {
    std::string list;
    append_names(list, hwcap, hwcap_names);
    append_names(list, hwcap2, hwcap2_names);
    return list;
}

}  // namespace tavro
