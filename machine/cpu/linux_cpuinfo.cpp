#include "machine/cpu/linux_cpuinfo.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <tuple>
#include <vector>

#include <fmt/format.h>

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

void append_word(std::string& list, std::string_view word) {
    if (!list.empty()) {
        list += ' ';
    }
    list += word;
}

// A number written in hexadecimal, with or without "0x".
std::optional<std::uint64_t> parse_hex(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc{} || next != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string_view first_line_value(std::string_view text, std::string_view key, char separator) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t at = line.find(separator);
        if (at != std::string_view::npos && trim_blanks(line.substr(0, at)) == key) {
            return trim_blanks(line.substr(at + 1));
        }
    }
    return {};
}

// The single-letter RISC-V extensions in the ISA string's canonical order.
constexpr std::string_view riscv_letter_order = "IEMAFDQLCBKJTPVH";

// The riscv_hwprobe IMA_EXT_0 bits of the multi-letter extensions, as the
// kernel's <asm/hwprobe.h> (RISCV_HWPROBE_EXT_*) numbers them through Linux
// 6.12; bits 0-2 are F with D, C and V.
struct riscv_hwprobe_bit {
    int bit;
    std::string_view name;
};
constexpr std::array<riscv_hwprobe_bit, 46> riscv_hwprobe_ext_names = {{
    {3, "ZBA"},     {4, "ZBB"},        {5, "ZBS"},     {6, "ZICBOZ"},       {7, "ZBC"},
    {8, "ZBKB"},    {9, "ZBKC"},       {10, "ZBKX"},   {11, "ZKND"},        {12, "ZKNE"},
    {13, "ZKNH"},   {14, "ZKSED"},     {15, "ZKSH"},   {16, "ZKT"},         {17, "ZVBB"},
    {18, "ZVBC"},   {19, "ZVKB"},      {20, "ZVKG"},   {21, "ZVKNED"},      {22, "ZVKNHA"},
    {23, "ZVKNHB"}, {24, "ZVKSED"},    {25, "ZVKSH"},  {26, "ZVKT"},        {27, "ZFH"},
    {28, "ZFHMIN"}, {29, "ZIHINTNTL"}, {30, "ZVFH"},   {31, "ZVFHMIN"},     {32, "ZFA"},
    {33, "ZTSO"},   {34, "ZACAS"},     {35, "ZICOND"}, {36, "ZIHINTPAUSE"}, {37, "ZVE32X"},
    {38, "ZVE32F"}, {39, "ZVE64X"},    {40, "ZVE64F"}, {41, "ZVE64D"},      {42, "ZIMOP"},
    {43, "ZCA"},    {44, "ZCB"},       {45, "ZCD"},    {46, "ZCF"},         {47, "ZCMOP"},
    {48, "ZAWRS"},
}};

// The place of an upper-case RISC-V extension name in the ISA string's
// canonical order: single letters, then Z extensions grouped by the
// letter that follows the Z, then S and X extensions; names break ties.
std::tuple<int, std::size_t, std::string_view> riscv_canonical_rank(std::string_view name) {
    const auto letter_rank = [](char letter) {
        return std::min(riscv_letter_order.find(letter), riscv_letter_order.size());
    };
    if (name.size() == 1) {
        return {0, letter_rank(name[0]), name};
    }
    switch (name.empty() ? '\0' : name[0]) {
        case 'Z':
            return {1, letter_rank(name[1]), name};
        case 'S':
            return {2, 0, name};
        case 'X':
            return {3, 0, name};
        default:
            return {4, 0, name};
    }
}

std::vector<std::string_view> words_of(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(' '), text.size());
        if (end != 0) {
            words.push_back(text.substr(0, end));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return words;
}

std::string joined(const std::vector<std::string_view>& words) {
    std::string list;
    for (const std::string_view word : words) {
        append_word(list, word);
    }
    return list;
}

// The POWER AT_HWCAP and AT_HWCAP2 names, by bit from the highest down, as
// the kernel's <asm/cputable.h> (PPC_FEATURE_*, PPC_FEATURE2_*) numbers the
// bits and the C library names them (LD_SHOW_AUXV: "notb", "ic_snoop").
// Empty: no name.
constexpr std::array<std::string_view, 32> power_hwcap_names = {
    "PPC32", "PPC64",     "PPC601",    "ALTIVEC",   "FPU",    "MMU",    "4XXMAC",  "UCACHE",
    "SPE",   "EFPSINGLE", "EFPDOUBLE", "NOTB",      "POWER4", "POWER5", "POWER5+", "CELLBE",
    "BOOKE", "SMT",       "IC_SNOOP",  "ARCH_2_05", "PA6T",   "DFP",    "POWER6X", "ARCH_2_06",
    "VSX",   "ARCHPMU",   "",          "",          "",       "",       "TRUE_LE", "PPCLE",
};
// The bits above MMA have no name; the array leaves them empty.
constexpr std::array<std::string_view, 32> power_hwcap2_names = {
    "ARCH_2_07", "HTM",     "DSCR", "EBB", "ISEL",           "TAR",      "VCRYPTO", "HTM-NOSC",
    "ARCH_3_00", "IEEE128", "DARN", "SCV", "HTM-NO-SUSPEND", "ARCH_3_1", "MMA",
};

// The s390x AT_HWCAP names from bit 0 up, as the kernel's HWCAP_NR_* values
// (Linux 6.1) number them and its "features" line spells them.
constexpr std::array<std::string_view, 23> s390x_hwcap_names = {
    "ESAN3",  "ZARCH",    "STFLE", "MSA",  "LDISP", "EIMM",   "DFP", "EDAT",
    "ETF3EH", "HIGHGPRS", "TE",    "VX",   "VXD",   "VXE",    "GS",  "VXE2",
    "VXP",    "SORT",     "DFLT",  "VXP2", "NNPA",  "PCIMIO", "SIE",
};

struct s390x_model {
    std::string_view type;
    std::string_view name;
};

// Machine types of the z/Architecture models that run current kernels.
constexpr std::array<s390x_model, 12> s390x_models = {{
    {"2817", "z196"},
    {"2818", "z114"},
    {"2827", "zEC12"},
    {"2828", "zBC12"},
    {"2964", "z13"},
    {"2965", "z13s"},
    {"3906", "z14"},
    {"3907", "z14 ZR1"},
    {"8561", "z15"},
    {"8562", "z15 T02"},
    {"3931", "z16"},
    {"3932", "z16 A02"},
}};

}  // namespace

std::optional<std::string_view> cpuinfo_value(std::string_view cpuinfo, std::string_view key) {
    while (!cpuinfo.empty()) {
        const std::size_t end = std::min(cpuinfo.find('\n'), cpuinfo.size());
        const std::string_view line = cpuinfo.substr(0, end);
        cpuinfo.remove_prefix(std::min(end + 1, cpuinfo.size()));
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && trim_blanks(line.substr(0, colon)) == key) {
            return trim_blanks(line.substr(colon + 1));
        }
    }
    return std::nullopt;
}

bool is_riscv_cpuinfo(std::string_view cpuinfo) {
    const auto isa = cpuinfo_value(cpuinfo, "isa");
    return isa && isa->starts_with("rv");
}

cpu_identity riscv_cpu_identity(std::string_view cpuinfo, std::string_view dt_compatible) {
    cpu_identity identity;
    identity.brand = "RISC-V";
    if (!is_riscv_cpuinfo(cpuinfo)) {
        return identity;
    }
    const auto vendor = cpuinfo_value(cpuinfo, "mvendorid");
    const auto arch = cpuinfo_value(cpuinfo, "marchid");
    const auto impl = cpuinfo_value(cpuinfo, "mimpid");
    if (const auto id = vendor ? parse_hex(*vendor) : std::nullopt) {
        identity.family = static_cast<std::uint32_t>(*id);
    }
    if (const auto id = arch ? parse_hex(*arch) : std::nullopt) {
        identity.model = static_cast<std::uint32_t>(*id & 0xffff'ffffu);
    }
    const std::string_view compatible = dt_compatible.substr(0, dt_compatible.find('\0'));
    if (const auto uarch = cpuinfo_value(cpuinfo, "uarch"); uarch && !uarch->empty()) {
        identity.brand = *uarch;
    } else if (!compatible.empty() && compatible != "riscv") {
        identity.brand = compatible;
    } else {
        for (const auto& [name, value] :
             {std::pair{"mvendorid", vendor}, {"marchid", arch}, {"mimpid", impl}}) {
            if (value && !value->empty()) {
                identity.brand +=
                    fmt::format("{}{} {}", identity.brand == "RISC-V" ? " (" : ", ", name, *value);
            }
        }
        if (identity.brand != "RISC-V") {
            identity.brand += ')';
        }
    }
    return identity;
}

std::string riscv_isa_feature_list(std::string_view isa) {
    if (!isa.starts_with("rv32") && !isa.starts_with("rv64")) {
        return {};
    }
    isa.remove_prefix(4);
    std::string list;
    const std::size_t letters_end = std::min(isa.find('_'), isa.size());
    for (const char letter : isa.substr(0, letters_end)) {
        append_word(list, upper(std::string_view(&letter, 1)));
    }
    isa.remove_prefix(letters_end);
    while (!isa.empty()) {
        isa.remove_prefix(1);
        const std::size_t end = std::min(isa.find('_'), isa.size());
        if (end != 0) {
            append_word(list, upper(isa.substr(0, end)));
        }
        isa.remove_prefix(end);
    }
    return list;
}

std::string riscv_hwcap_feature_list(std::uint64_t hwcap) {
    std::string list;
    for (const char letter : riscv_letter_order) {
        if (((hwcap >> (letter - 'A')) & 1u) != 0) {
            append_word(list, std::string_view(&letter, 1));
        }
    }
    return list;
}

std::string riscv_hwprobe_feature_list(const riscv_hwprobe_values& probe) {
    // RISCV_HWPROBE_BASE_BEHAVIOR_IMA
    if ((probe.base_behavior & 1u) == 0) {
        return {};
    }
    std::vector<std::string_view> names = {"I", "M", "A"};
    // RISCV_HWPROBE_IMA_FD, _C and _V.
    if ((probe.ima_ext_0 & 1u) != 0) {
        names.insert(names.end(), {"F", "D"});
    }
    if ((probe.ima_ext_0 & 2u) != 0) {
        names.push_back("C");
    }
    if ((probe.ima_ext_0 & 4u) != 0) {
        names.push_back("V");
    }
    for (const auto& [bit, name] : riscv_hwprobe_ext_names) {
        if (((probe.ima_ext_0 >> bit) & 1u) != 0) {
            names.push_back(name);
        }
    }
    std::stable_sort(names.begin(), names.end(), [](std::string_view a, std::string_view b) {
        return riscv_canonical_rank(a) < riscv_canonical_rank(b);
    });
    return joined(names);
}

std::string riscv_merge_feature_lists(std::string_view list, std::string_view additions) {
    std::vector<std::string_view> names = words_of(list);
    for (const std::string_view name : words_of(additions)) {
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            continue;
        }
        const auto rank = riscv_canonical_rank(name);
        const auto after = std::find_if(names.begin(), names.end(), [&](std::string_view other) {
            return rank < riscv_canonical_rank(other);
        });
        names.insert(after, name);
    }
    return joined(names);
}

std::uint64_t device_tree_number(std::string_view bytes) {
    if (bytes.size() != 4 && bytes.size() != 8) {
        return 0;
    }
    std::uint64_t value = 0;
    for (const char byte : bytes) {
        value = (value << 8) | static_cast<unsigned char>(byte);
    }
    return value;
}

cpu_identity power_cpu_identity(std::string_view cpuinfo, std::uint64_t hwcap2) {
    cpu_identity identity;
    const auto cpu = cpuinfo_value(cpuinfo, "cpu");
    if (!cpu || cpu->empty() || !cpuinfo_value(cpuinfo, "timebase")) {
        // PPC_FEATURE2_ARCH_3_1, _3_00 and _2_07.
        identity.brand = (hwcap2 & 0x0004'0000u) != 0   ? "Power ISA 3.1"
                         : (hwcap2 & 0x0080'0000u) != 0 ? "Power ISA 3.0"
                         : (hwcap2 & 0x8000'0000u) != 0 ? "Power ISA 2.07"
                                                        : "POWER";
        return identity;
    }
    identity.brand = trim_blanks(cpu->substr(0, cpu->find(',')));
    if (const auto revision = cpuinfo_value(cpuinfo, "revision")) {
        const std::string_view number = trim_blanks(revision->substr(0, revision->find('(')));
        if (!number.empty()) {
            identity.brand += fmt::format(", revision {}", number);
        }
        // "2.2 (pvr 004e 1202)"
        const std::size_t pvr = revision->find("(pvr ");
        if (pvr != std::string_view::npos) {
            std::string_view words = revision->substr(pvr + 5);
            words = words.substr(0, words.find(')'));
            const std::size_t blank = words.find(' ');
            if (blank != std::string_view::npos) {
                const auto version = parse_hex(words.substr(0, blank));
                const auto release = parse_hex(trim_blanks(words.substr(blank + 1)));
                if (version && release) {
                    identity.family = static_cast<std::uint32_t>(*version);
                    identity.model = static_cast<std::uint32_t>(*release);
                }
            }
        }
    }
    if (const auto platform = cpuinfo_value(cpuinfo, "platform"); platform && !platform->empty()) {
        identity.brand += fmt::format(", {}", *platform);
    }
    return identity;
}

std::string power_hwcap_list(std::uint64_t hwcap, std::uint64_t hwcap2) {
    std::string list;
    for (const auto& [bits, names] :
         {std::pair{hwcap, &power_hwcap_names}, {hwcap2, &power_hwcap2_names}}) {
        for (std::size_t i = 0; i < names->size(); ++i) {
            if (((bits >> (31 - i)) & 1u) != 0 && !(*names)[i].empty()) {
                append_word(list, (*names)[i]);
            }
        }
    }
    return list;
}

std::uint64_t power_timebase_hz(std::string_view cpuinfo) {
    const auto value = cpuinfo_value(cpuinfo, "timebase");
    const auto hz = value ? parse_number<std::uint64_t>(*value) : std::nullopt;
    return hz.value_or(0);
}

cpu_identity s390x_cpu_identity(std::string_view cpuinfo, std::string_view sysinfo) {
    cpu_identity identity;
    std::string_view type = first_line_value(sysinfo, "Type", ':');
    if (type.empty() && cpuinfo_value(cpuinfo, "vendor_id").value_or("").starts_with("IBM/S390")) {
        // "processor 0: version = FF,  identification = 0133E8,  machine = 8561"
        const std::size_t machine = cpuinfo.find("machine = ");
        if (machine != std::string_view::npos) {
            type = cpuinfo.substr(machine + 10);
            type = type.substr(0, std::min({type.find('\n'), type.find(','), type.size()}));
            type = trim_blanks(type);
        }
    }
    std::string_view maker = first_line_value(sysinfo, "Manufacturer", ':');
    if (maker.empty()) {
        maker = "IBM";
    }
    const auto code = type.size() == 4 ? parse_hex(type) : std::nullopt;
    if (!code) {
        identity.brand = fmt::format("{} z/Architecture", maker);
        return identity;
    }
    identity.family = static_cast<std::uint32_t>(*code);
    identity.brand = fmt::format("{} machine type {}", maker, type);
    for (const s390x_model& model : s390x_models) {
        if (model.type == type) {
            identity.brand = fmt::format("{} {} ({})", maker, model.name, type);
        }
    }
    return identity;
}

std::string s390x_hwcap_list(std::uint64_t hwcap) {
    std::string list;
    for (std::size_t bit = 0; bit < s390x_hwcap_names.size(); ++bit) {
        if (((hwcap >> bit) & 1u) != 0) {
            append_word(list, s390x_hwcap_names[bit]);
        }
    }
    return list;
}

}  // namespace tavro
